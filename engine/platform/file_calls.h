// The kernel calls through which the file layer reaches the file system, in one table. Only
// the layer calls them; tests replace entries to play a file system that behaves otherwise.
#pragma once

#include "platform.h"

struct FileCalls {
    decltype(&CreateFileW) createFile;
    decltype(&CreateDirectoryW) createDirectory;
    decltype(&GetFileAttributesW) getFileAttributes;
    decltype(&FindFirstFileExW) findFirstFile;
    decltype(&GetFileInformationByHandle) getFileInformation;
    decltype(&GetFileInformationByHandleEx) getFileInformationEx;
    decltype(&SetFileInformationByHandle) setFileInformation;
};

extern FileCalls g_fileCalls;
