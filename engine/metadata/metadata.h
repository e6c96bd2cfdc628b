// What a photo knows besides its pixels, held in one form whatever its container: read from
// the input's container, made true to the output, and written into the output's container.
// Pure: bytes in, bytes out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct PhotoMetadata {
    std::string icc;   // an ICC profile, as a .icc file holds it
    std::string exif;  // TIFF-structured ("II*\0" or "MM\0*"), without JPEG's "Exif\0\0"
    std::string xmp;   // an XMP packet, UTF-8
    // The extended part of a JPEG's XMP, a packet of its own that xmp points to by its MD5;
    // read only whole and true to that digest.
    std::string extendedXmp{};  // initialised, so that the pieces above may be given alone

    bool empty() const { return icc.empty() && exif.empty() && xmp.empty() && extendedXmp.empty(); }
};

// Larger pieces are damaged or hostile, and are not carried.
constexpr size_t kMaxIccBytes = 4u << 20;
constexpr size_t kMaxExifBytes = 4u << 20;
constexpr size_t kMaxXmpBytes = 4u << 20;

// What a whole file's bytes hold, told by its signature (JPEG, PNG, TIFF, WebP); nothing for
// other files. A piece that is damaged, cut or over its bound is left out on its own.
PhotoMetadata ReadMetadata(const uint8_t* data, size_t size);

// The containers whose files hold metadata, each in its own standard place.
enum class MetadataContainer { Jpeg, Png, Tiff, WebP };

// The pieces made true to an output of width x height whose pixels already stand upright:
// orientation normal in EXIF and XMP, the pixel sizes the output's, the EXIF edited in place
// (its thumbnail no longer linked when the pixels were turned), and the XMP pointing to its
// extended part by that part's digest, or not at all when it has none. EXIF whose first
// directory cannot be read is dropped.
PhotoMetadata MetadataForOutput(const PhotoMetadata& input, uint32_t width, uint32_t height);

// Puts each piece into file, a whole encoded file of container, in place of any copy the
// encoder wrote; a piece the container cannot hold is left out. Containers other than JPEG
// hold one XMP packet of any size: the extended part joins the main one there. False, with file unchanged,
// when file is not well formed.
bool WriteMetadata(std::vector<uint8_t>& file, MetadataContainer container,
                   const PhotoMetadata& metadata);
