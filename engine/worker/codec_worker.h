// The codec step in a process of its own. Decoders are platform code that a damaged file can
// crash, hang or make exhaust memory; in a worker process that costs one failed file, never
// the program. The worker is the program's own executable, started by it with a pipe and a
// secret that only it can give, so a command line a user types always opens the window.
#pragma once

#include "files.h"

#include <string>

// The first call of every program that runs conversions. When this process was started as
// another's codec worker, it serves that program's files until the program goes, and true
// is returned: the process should then end. Otherwise false, at once.
bool ServeAsCodecWorker();

// Converts inputPath into outputPath in the codec worker, which is started when first needed
// and reused for every later file. The worker writes into a temporary file that this process
// holds, through a copy of its handle, and the file takes its name here once the worker has
// answered (see TemporaryOutput::PlaceAt for replace and what Exists means). Failed when the
// file did not convert, the worker died on it, it took longer than the time limit, or
// stopEvent was set and it did not finish within a short grace; nothing is left behind then.
// A worker that died or was ended is replaced for the next file.
Placement ConvertInCodecWorker(const std::wstring& inputPath, const std::wstring& outputPath,
                               const std::wstring& mimeType, int quality, bool replace,
                               HANDLE stopEvent);

// Ends the worker, if one is running; the program calls it once no run is left.
void EndCodecWorker();
