#include "webp_codec.h"

#include "files.h"
#include "resources.h"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

#include <cstdint>
#include <cstring>

const wchar_t kWebPMimeType[] = L"image/webp";
// {963EE8BD-A394-4C33-A7D9-4ADC62B4E20C}, made for Vorandel.
const CLSID kWebPEncoderClsid = {
    0x963ee8bd, 0xa394, 0x4c33, {0xa7, 0xd9, 0x4a, 0xdc, 0x62, 0xb4, 0xe2, 0x0c}};

namespace {

constexpr size_t kSignatureBytes = 12;

bool DecodeStill(const uint8_t* data, size_t size, const BitmapData& target) {
    uint8_t* pixels = static_cast<uint8_t*>(target.Scan0);
    size_t capacity = static_cast<size_t>(target.Stride) * target.Height;
    return WebPDecodeBGRAInto(data, size, pixels, capacity, target.Stride) !=
           nullptr;
}

bool DecodeFirstFrame(const uint8_t* data, size_t size, const BitmapData& target) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return false;
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    WebPData webp{data, size};
    WebPAnimDecoderPtr decoder(WebPAnimDecoderNew(&webp, &options));
    if (!decoder) return false;
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(decoder.get(), &info) || info.canvas_width != target.Width ||
        info.canvas_height != target.Height)
        return false;
    uint8_t* frame = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &frame, &timestamp) || frame == nullptr)
        return false;
    // The frame belongs to the decoder, which goes before the bitmap does: copy it.
    const size_t rowBytes = static_cast<size_t>(target.Width) * 4;
    uint8_t* row = static_cast<uint8_t*>(target.Scan0);
    for (UINT y = 0; y < target.Height; ++y, row += target.Stride)
        std::memcpy(row, frame + y * rowBytes, rowBytes);
    return true;
}

bool WithinPixelLimit(unsigned long long width, unsigned long long height,
                      unsigned long long maxPixels) {
    return width > 0 && height > 0 && width <= WEBP_MAX_DIMENSION &&
           height <= WEBP_MAX_DIMENSION && width * height <= maxPixels;
}

}  // namespace

bool IsWebP(const uint8_t* data, size_t size) {
    return size >= kSignatureBytes && std::memcmp(data, "RIFF", 4) == 0 &&
           std::memcmp(data + 8, "WEBP", 4) == 0;
}

GpStatus LoadWebPBitmap(const uint8_t* data, size_t size, GpBitmap** bitmap,
                        unsigned long long maxPixels) {
    if (bitmap == nullptr) return InvalidParameter;
    *bitmap = nullptr;
    if (size > kMaxFileBytes) return Win32Error;
    if (!IsWebP(data, size)) return UnknownImageFormat;

    // The headers alone tell the size: an absurd one is refused before any pixel is allocated.
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(data, size, &features) != VP8_STATUS_OK)
        return UnknownImageFormat;
    if (features.width <= 0 || features.height <= 0 ||
        !WithinPixelLimit(static_cast<unsigned>(features.width),
                          static_cast<unsigned>(features.height), maxPixels))
        return OutOfMemory;

    // Decoded straight into memory that GDI+ owns, so no buffer of ours must outlive the bitmap.
    GpBitmap* created = nullptr;
    GpStatus status = GdipCreateBitmapFromScan0(features.width, features.height, 0,
                                                PixelFormat32bppARGB, nullptr, &created);
    if (status != Ok) return status;
    ImagePtr owner(created);
    {
        BitmapBitsLock bits(created, static_cast<UINT>(features.width),
                            static_cast<UINT>(features.height), ImageLockModeWrite,
                            PixelFormat32bppARGB);
        if (!bits.locked() || bits.data().Stride <= 0) return GenericError;
        if (!(features.has_animation ? DecodeFirstFrame(data, size, bits.data())
                                     : DecodeStill(data, size, bits.data())))
            return GenericError;
    }
    *bitmap = static_cast<GpBitmap*>(owner.release());
    return Ok;
}

bool SaveImageAsWebP(GpImage* image, HANDLE output, int quality) {
    if (image == nullptr || quality < 0 || quality > 100) return false;
    ImageType type = ImageTypeUnknown;
    if (GdipGetImageType(image, &type) != Ok || type != ImageTypeBitmap) return false;
    UINT width = 0;
    UINT height = 0;
    if (GdipGetImageWidth(image, &width) != Ok || GdipGetImageHeight(image, &height) != Ok ||
        !WithinPixelLimit(width, height, kMaxPixels))
        return false;

    uint8_t* encoded = nullptr;
    size_t size = 0;
    {
        // Whatever the bitmap's own format, GDI+ hands its pixels over as 32bpp ARGB (BGRA
        // bytes). A bottom-up bitmap gives a negative stride, which libwebp walks as given.
        BitmapBitsLock bits(static_cast<GpBitmap*>(image), width, height, ImageLockModeRead,
                            PixelFormat32bppARGB);
        if (!bits.locked()) return false;
        size = WebPEncodeBGRA(static_cast<const uint8_t*>(bits.data().Scan0),
                              static_cast<int>(width), static_cast<int>(height),
                              bits.data().Stride, static_cast<float>(quality), &encoded);
    }
    WebPMemoryPtr owner(encoded);
    if (size == 0 || !owner) return false;

    return WriteAll(output, owner.get(), size);
}
