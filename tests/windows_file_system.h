// Windows's file system as the engine meets it on users' machines, played under Wine through
// the engine's file calls: the tests of the engine run against it, and the codec worker a
// test starts plays it too.
//   - A path without the "\\?\" prefix is refused from 260 characters on (248 for a new
//     folder), as on Windows without a long-path manifest; Wine has no such limit.
//   - A folder whose name holds kRefusesListing refuses to be listed by handle, as SMB1
//     servers, some NAS firmware and VirtualBox shared folders do.
//   - A file that any process has mapped cannot be truncated by an open, deleted or replaced
//     by a rename: error 1224 (ERROR_USER_MAPPED_FILE), as on Windows. Wine maps every view
//     of a file with Linux's mmap, so Linux's list of each process's mappings tells which
//     files are mapped.
//   - A file or folder whose path holds kNumbersNoFile has the file number 0, as on drives
//     that number no file.
#pragma once

inline constexpr wchar_t kRefusesListing[] = L"refuses-listing";
inline constexpr wchar_t kNumbersNoFile[] = L"numbers-no-file";

void PlayWindowsFileSystem();
