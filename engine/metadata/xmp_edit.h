// XMP made true to a converted picture: its pixels upright and of the output's size, and its
// extended part carried or no longer pointed to. Pure: bytes in, bytes out.
#pragma once

#include <cstdint>
#include <string>

// The XMP with tiff:Orientation 1 and exif:PixelXDimension, exif:PixelYDimension,
// tiff:ImageWidth, tiff:ImageLength of the output, each where present, as an attribute
// (name="value") or an element holding only text (<name>value</name>). The packet's markup is
// read up to where it stops being well formed, and only values found so are edited; nothing
// else changes. Any bytes are safe, and a second pass changes nothing.
std::string XmpForOutput(const std::string& xmp, uint32_t width, uint32_t height);

// The value of xmpNote:HasExtendedXMP, the GUID naming the extended part of a JPEG's XMP;
// "" when there is none.
std::string ExtendedXmpGuid(const std::string& xmp);

// The XMP with xmpNote:HasExtendedXMP set to guid where present, or without that property
// when guid is "".
std::string WithExtendedXmpPointer(const std::string& xmp, const std::string& guid);

// One packet of main and the extended packet: the extension's descriptions (with the
// namespaces its outer elements declare) added to main's rdf:RDF, and the pointer to the
// extension gone. Without rdf:RDF in either, main without its pointer.
std::string MergedXmp(const std::string& main, const std::string& extension);
