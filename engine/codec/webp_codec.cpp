#include "webp_codec.h"

#include "resources.h"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

const wchar_t kWebPMimeType[] = L"image/webp";
// {963EE8BD-A394-4C33-A7D9-4ADC62B4E20C}, made for Vorandel.
const CLSID kWebPEncoderClsid = {
    0x963ee8bd, 0xa394, 0x4c33, {0xa7, 0xd9, 0x4a, 0xdc, 0x62, 0xb4, 0xe2, 0x0c}};

namespace {

constexpr size_t kSignatureBytes = 12;
// Rows brought over to libwebp at a time: the bitmap is locked as 32bpp ARGB a band at a time
// instead of whole (400 MB more at 100 megapixels). Even, so that every band starts a pair of
// rows, which libwebp turns into YUV on its own, from those two rows alone.
constexpr UINT kImportRows = 256;
static_assert(kImportRows % 2 == 0, "a band starts a pair of rows");

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

void CopyRows(const uint8_t* from, int fromStride, uint8_t* to, int toStride, int bytes,
              int rows) {
    for (int y = 0; y < rows; ++y)
        std::memcpy(to + static_cast<ptrdiff_t>(y) * toStride,
                    from + static_cast<ptrdiff_t>(y) * fromStride, static_cast<size_t>(bytes));
}

// Fills picture's YUV planes from the bitmap, and alpha with its alpha plane when any pixel
// is not opaque, byte for byte as WebPPictureImportBGRA fills them from the whole bitmap.
// alpha lies outside the picture's own memory and must outlive its use.
bool ImportInBands(GpBitmap* bitmap, int width, int height, WebPPicture& picture,
                   std::vector<uint8_t>& alpha) {
    picture.width = width;
    picture.height = height;
    picture.use_argb = 0;
    picture.colorspace = WEBP_YUV420;
    if (!WebPPictureAlloc(&picture)) return false;
    const int uvWidth = (width + 1) / 2;
    for (int top = 0; top < height; top += static_cast<int>(kImportRows)) {
        const int rows = std::min(static_cast<int>(kImportRows), height - top);
        BitmapBitsLock bits(bitmap, GpRect{0, top, width, rows}, ImageLockModeRead,
                            PixelFormat32bppARGB);
        if (!bits.locked()) return false;
        WebPPictureOwner band;
        band.get().width = width;
        band.get().height = rows;
        if (!band.ready() ||
            !WebPPictureImportBGRA(&band.get(), static_cast<const uint8_t*>(bits.data().Scan0),
                                   bits.data().Stride))
            return false;
        const WebPPicture& from = band.get();
        CopyRows(from.y, from.y_stride, picture.y + static_cast<ptrdiff_t>(top) * picture.y_stride,
                 picture.y_stride, width, rows);
        const ptrdiff_t uvTop = static_cast<ptrdiff_t>(top / 2) * picture.uv_stride;
        CopyRows(from.u, from.uv_stride, picture.u + uvTop, picture.uv_stride, uvWidth,
                 (rows + 1) / 2);
        CopyRows(from.v, from.uv_stride, picture.v + uvTop, picture.uv_stride, uvWidth,
                 (rows + 1) / 2);
        // A band without transparency has no alpha plane; the whole picture's would hold
        // 255 for its rows.
        if (from.a != nullptr) {
            if (alpha.empty()) alpha.assign(static_cast<size_t>(width) * height, 0xFF);
            CopyRows(from.a, from.a_stride, alpha.data() + static_cast<size_t>(top) * width, width,
                     width, rows);
        }
    }
    if (!alpha.empty()) {
        picture.colorspace = WEBP_YUV420A;
        picture.a = alpha.data();
        picture.a_stride = width;
    }
    return true;
}

// libwebp's writer: the encoded bytes straight into the caller's buffer.
int AppendEncoded(const uint8_t* data, size_t size, const WebPPicture* picture) {
    auto* encoded = static_cast<std::vector<uint8_t>*>(picture->custom_ptr);
    try {
        encoded->insert(encoded->end(), data, data + size);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
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

bool EncodeWebP(ImagePtr image, int quality, std::vector<uint8_t>& encoded) {
    if (!image || quality < 0 || quality > 100) return false;
    ImageType type = ImageTypeUnknown;
    if (GdipGetImageType(image.get(), &type) != Ok || type != ImageTypeBitmap) return false;
    UINT width = 0;
    UINT height = 0;
    if (GdipGetImageWidth(image.get(), &width) != Ok ||
        GdipGetImageHeight(image.get(), &height) != Ok ||
        !WithinPixelLimit(width, height, kMaxPixels))
        return false;

    // What WebPEncodeBGRA does, with the pixels brought over in bands. Whatever the bitmap's
    // own format, GDI+ hands them over as 32bpp ARGB (BGRA bytes); a bottom-up bitmap gives a
    // negative stride, which libwebp walks as given.
    WebPConfig config;
    if (!WebPConfigPreset(&config, WEBP_PRESET_DEFAULT, static_cast<float>(quality))) return false;
    encoded.clear();
    bool done = false;
    {
        std::vector<uint8_t> alpha;
        WebPPictureOwner picture;
        if (picture.ready() &&
            ImportInBands(static_cast<GpBitmap*>(image.get()), static_cast<int>(width),
                          static_cast<int>(height), picture.get(), alpha)) {
            image.reset();
            picture.get().writer = AppendEncoded;
            picture.get().custom_ptr = &encoded;
            done = WebPEncode(&config, &picture.get()) != 0;
        }
    }
    return done && !encoded.empty();
}

bool OpenWebPAnimation(const uint8_t* data, size_t size, WebPAnimationInput& input) {
    WebPBitstreamFeatures features;
    if (size > kMaxFileBytes || !IsWebP(data, size) ||
        WebPGetFeatures(data, size, &features) != VP8_STATUS_OK || !features.has_animation)
        return false;
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return false;
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    WebPData webp{data, size};
    input.decoder.reset(WebPAnimDecoderNew(&webp, &options));
    WebPAnimInfo info;
    if (!input.decoder || !WebPAnimDecoderGetInfo(input.decoder.get(), &info) ||
        info.frame_count < 2 || !WithinPixelLimit(info.canvas_width, info.canvas_height, kMaxPixels))
        return false;
    input.width = info.canvas_width;
    input.height = info.canvas_height;
    input.frames = info.frame_count;
    input.plays = static_cast<int>(info.loop_count);
    return true;
}

ImagePtr NextWebPFrame(WebPAnimationInput& input, unsigned& delayMs) {
    uint8_t* canvas = nullptr;
    int shownUntil = 0;
    if (!WebPAnimDecoderGetNext(input.decoder.get(), &canvas, &shownUntil) || canvas == nullptr)
        return nullptr;
    delayMs = static_cast<unsigned>(std::max(0, shownUntil - input.shownUntilMs));
    input.shownUntilMs = shownUntil;
    return BitmapOfRows(canvas, input.width, input.height, PixelFormat32bppARGB);
}

bool StartWebPAnimation(UINT width, UINT height, int plays, int quality,
                        WebPAnimationOutput& output) {
    if (!WithinPixelLimit(width, height, kMaxPixels) || quality < 0 || quality > 100 ||
        !WebPConfigPreset(&output.config, WEBP_PRESET_DEFAULT, static_cast<float>(quality)))
        return false;
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options)) return false;
    options.anim_params.loop_count = std::clamp(plays, 0, 65535);
    options.anim_params.bgcolor = 0;  // transparent, as browsers clear the canvas
    output.encoder.reset(
        WebPAnimEncoderNew(static_cast<int>(width), static_cast<int>(height), &options));
    output.timestampMs = 0;
    return output.encoder != nullptr;
}

bool AddWebPFrame(WebPAnimationOutput& output, GpImage* frame, unsigned delayMs) {
    UINT width = 0;
    UINT height = 0;
    if (GdipGetImageWidth(frame, &width) != Ok || GdipGetImageHeight(frame, &height) != Ok)
        return false;
    WebPPictureOwner picture;
    if (!picture.ready()) return false;
    picture.get().width = static_cast<int>(width);
    picture.get().height = static_cast<int>(height);
    // As ARGB, which the animation encoder compares frames in: imported as YUV, it would turn
    // each frame back, halving its colours' resolution twice.
    picture.get().use_argb = 1;
    {
        BitmapBitsLock bits(static_cast<GpBitmap*>(frame), width, height, ImageLockModeRead,
                            PixelFormat32bppARGB);
        if (!bits.locked() ||
            !WebPPictureImportBGRA(&picture.get(), static_cast<const uint8_t*>(bits.data().Scan0),
                                   bits.data().Stride))
            return false;
    }
    if (!WebPAnimEncoderAdd(output.encoder.get(), &picture.get(), output.timestampMs,
                            &output.config))
        return false;
    output.timestampMs += static_cast<int>(std::min(delayMs, 1u << 24));
    return true;
}

bool FinishWebPAnimation(WebPAnimationOutput& output, std::vector<uint8_t>& encoded) {
    if (!WebPAnimEncoderAdd(output.encoder.get(), nullptr, output.timestampMs, nullptr))
        return false;
    WebPData assembled;
    WebPDataInit(&assembled);
    bool done = WebPAnimEncoderAssemble(output.encoder.get(), &assembled) != 0;
    // The encoder holds every encoded frame once more: gone before they are copied again.
    output.encoder.reset();
    if (done) encoded.assign(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    return done && !encoded.empty();
}
