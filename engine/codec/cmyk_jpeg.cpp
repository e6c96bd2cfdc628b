#include "cmyk_jpeg.h"

#include "colours.h"
#include "streams.h"

#include <wincodec.h>

namespace {

// Spelt out here, so that no build needs the library that defines them (the Windows SDK's
// windowscodecs.lib).
constexpr CLSID kImagingFactoryClsid = {0xcacaf262, 0x9370, 0x4615,
                                        {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
constexpr IID kImagingFactoryIid = {0xec5ec8a9, 0xc395, 0x4314,
                                    {0x9c, 0x77, 0x54, 0xd7, 0xa9, 0x35, 0xff, 0x70}};
constexpr GUID kCmykFormat = {0x6fddc324, 0x4e03, 0x4bfe,
                              {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x1c}};

}  // namespace

ImagePtr LoadCmykJpeg(const uint8_t* data, size_t size, const std::string& icc) {
    ComApartment com;
    IWICImagingFactory* made = nullptr;
    if (FAILED(CoCreateInstance(kImagingFactoryClsid, nullptr, CLSCTX_INPROC_SERVER,
                                kImagingFactoryIid, reinterpret_cast<void**>(&made))))
        return nullptr;
    ComPtr<IWICImagingFactory> factory(made);
    StreamPtr stream = StreamOverBytes(data, size);
    IWICBitmapDecoder* decoder = nullptr;
    if (!stream || FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr,
                                                           WICDecodeMetadataCacheOnDemand, &decoder)))
        return nullptr;
    ComPtr<IWICBitmapDecoder> decoderOwner(decoder);
    IWICBitmapFrameDecode* frame = nullptr;
    if (FAILED(decoder->GetFrame(0, &frame))) return nullptr;
    ComPtr<IWICBitmapFrameDecode> frameOwner(frame);
    WICPixelFormatGUID format{};
    UINT width = 0;
    UINT height = 0;
    if (FAILED(frame->GetPixelFormat(&format)) || !IsEqualGUID(format, kCmykFormat) ||
        FAILED(frame->GetSize(&width, &height)) || width == 0 || height == 0)
        return nullptr;
    return SrgbFromCmyk(width, height, icc, [&](UINT top, UINT rows, BYTE* cmyk) {
        WICRect band{0, static_cast<INT>(top), static_cast<INT>(width), static_cast<INT>(rows)};
        return SUCCEEDED(frame->CopyPixels(&band, width * 4, width * 4 * rows, cmyk));
    });
}
