// The extended-length form of a path, which Windows takes at any length (up to 32,767
// characters) where a plain path stops at 260.
#pragma once

#include <string>

// "\\?\C:\…" for an absolute drive path, "\\?\UNC\server\share\…" for a network one. The
// prefix turns off the platform's own clean-up of the path, so it is done here: "/" becomes
// "\", repeated separators and "." fold away and ".." takes its folder off, never past the
// drive or the share. Everything else of a name stays as it is, trailing dots and spaces
// included. A path already prefixed ("\\?\", "\\.\") passes unchanged, and so does one that
// is not absolute, which the program never makes.
std::wstring ExtendedPath(const std::wstring& path);
