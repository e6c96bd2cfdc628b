// Windows's file system as the engine meets it on users' machines, played under Wine through
// the engine's file calls: the tests of the engine run against it, and the codec worker a
// test starts plays it too.
//   - A path without the "\\?\" prefix is refused from 260 characters on (248 for a new
//     folder), as on Windows without a long-path manifest; Wine has no such limit.
//   - A folder whose name holds kRefusesListing refuses to be listed by handle, as SMB1
//     servers, some NAS firmware and VirtualBox shared folders do.
//   - A file whose name holds kUnmappable cannot be mapped, as on some network and virtual
//     drives.
//   - A file or folder whose path holds kNumbersNoFile has the file number 0, as on drives
//     that number no file.
#pragma once

inline constexpr wchar_t kRefusesListing[] = L"refuses-listing";
inline constexpr wchar_t kUnmappable[] = L"unmappable";
inline constexpr wchar_t kNumbersNoFile[] = L"numbers-no-file";

void PlayWindowsFileSystem();
