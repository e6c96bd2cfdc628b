// MD5 (RFC 1321), which names an extended XMP packet by its digest. Pure.
#pragma once

#include <string>

// The digest of bytes as 32 upper-case hexadecimal digits, as extended XMP writes it.
std::string Md5Hex(const std::string& bytes);
