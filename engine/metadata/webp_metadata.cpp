#include "webp_metadata.h"

#include "container_bytes.h"

#include <webp/mux.h>

#include <algorithm>
#include <memory>

namespace {

struct MuxDeleter {
    void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};

// Sets a chunk, or removes it when bytes is empty: the file then holds what metadata says.
bool ReplaceChunk(WebPMux* mux, const char* fourcc, const std::string& bytes) {
    if (bytes.empty()) {
        WebPMuxError error = WebPMuxDeleteChunk(mux, fourcc);
        return error == WEBP_MUX_OK || error == WEBP_MUX_NOT_FOUND;
    }
    WebPData chunk = {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
    return WebPMuxSetChunk(mux, fourcc, &chunk, 1) == WEBP_MUX_OK;
}

}  // namespace

PhotoMetadata ReadWebpMetadata(const uint8_t* data, size_t size) {
    PhotoMetadata metadata;
    if (!StartsWith(data, size, "RIFF", 4) || size < 12 || std::memcmp(data + 8, "WEBP", 4) != 0)
        return metadata;
    // Chunks lie within the bytes there are and within what the RIFF header counts.
    uint64_t riffEnd = 8 + uint64_t{Load32(data + 4, false)};
    size_t end = static_cast<size_t>(std::min<uint64_t>(size, riffEnd));
    bool iccSeen = false, exifSeen = false, xmpSeen = false;
    size_t at = 12;
    while (at + 8 <= end) {
        const uint8_t* fourcc = data + at;
        const uint8_t* body = data + at + 8;
        size_t length = Load32(data + at + 4, false);
        if (length > end - at - 8) break;
        if (std::memcmp(fourcc, "ICCP", 4) == 0 && !iccSeen) {
            iccSeen = true;
            if (length <= kMaxIccBytes)
                metadata.icc.assign(reinterpret_cast<const char*>(body), length);
        } else if (std::memcmp(fourcc, "EXIF", 4) == 0 && !exifSeen) {
            exifSeen = true;
            metadata.exif = TiffStructuredExif(body, length);
        } else if (std::memcmp(fourcc, "XMP ", 4) == 0 && !xmpSeen) {
            xmpSeen = true;
            if (length <= kMaxXmpBytes)
                metadata.xmp.assign(reinterpret_cast<const char*>(body), length);
        }
        at += 8 + length + (length & 1);
    }
    return metadata;
}

bool WriteWebpMetadata(std::vector<uint8_t>& file, const PhotoMetadata& metadata) {
    WebPData input = {file.data(), file.size()};
    std::unique_ptr<WebPMux, MuxDeleter> mux(WebPMuxCreate(&input, 1));
    if (!mux || !ReplaceChunk(mux.get(), "ICCP", metadata.icc) ||
        !ReplaceChunk(mux.get(), "EXIF", metadata.exif) ||
        !ReplaceChunk(mux.get(), "XMP ", metadata.xmp))
        return false;
    WebPData output;
    WebPDataInit(&output);
    bool assembled = WebPMuxAssemble(mux.get(), &output) == WEBP_MUX_OK;
    if (assembled) file.assign(output.bytes, output.bytes + output.size);
    WebPDataClear(&output);
    return assembled;
}
