#include "metadata.h"

#include "exif_edit.h"
#include "jpeg_metadata.h"
#include "md5.h"
#include "png_metadata.h"
#include "tiff_metadata.h"
#include "webp_metadata.h"
#include "xmp_edit.h"

#include <cstring>

PhotoMetadata ReadMetadata(const uint8_t* data, size_t size) {
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return ReadJpegMetadata(data, size);
    if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) return ReadPngMetadata(data, size);
    if (size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0)
        return ReadWebpMetadata(data, size);
    if (size >= 4 && (std::memcmp(data, "II*\0", 4) == 0 || std::memcmp(data, "MM\0*", 4) == 0))
        return ReadTiffMetadata(data, size);
    return {};
}

PhotoMetadata MetadataForOutput(const PhotoMetadata& input, uint32_t width, uint32_t height) {
    PhotoMetadata output;
    output.icc = input.icc;
    // The codec turns the pixels by the EXIF's orientation.
    bool turned = ExifOrientation(input.exif) != 1;
    if (!input.exif.empty()) output.exif = ExifForOutput(input.exif, width, height, turned);
    if (input.xmp.empty()) return output;
    if (!input.extendedXmp.empty()) output.extendedXmp = XmpForOutput(input.extendedXmp, width, height);
    std::string guid = output.extendedXmp.empty() ? "" : Md5Hex(output.extendedXmp);
    output.xmp = WithExtendedXmpPointer(XmpForOutput(input.xmp, width, height), guid);
    return output;
}

bool WriteMetadata(std::vector<uint8_t>& file, MetadataContainer container,
                   const PhotoMetadata& metadata) {
    if (container != MetadataContainer::Jpeg && !metadata.extendedXmp.empty()) {
        PhotoMetadata joined = metadata;
        joined.xmp = MergedXmp(metadata.xmp, metadata.extendedXmp);
        joined.extendedXmp.clear();
        return WriteMetadata(file, container, joined);
    }
    switch (container) {
    case MetadataContainer::Jpeg:
        return WriteJpegMetadata(file, metadata);
    case MetadataContainer::Png:
        return WritePngMetadata(file, metadata);
    case MetadataContainer::Tiff:
        return WriteTiffMetadata(file, metadata);
    case MetadataContainer::WebP:
        return WriteWebpMetadata(file, metadata);
    }
    return false;
}
