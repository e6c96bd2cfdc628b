#include "cmyk_jpeg.h"

#include "colours.h"
#include "streams.h"

#include <wincodec.h>

ImagePtr LoadCmykJpeg(const uint8_t* data, size_t size, const std::string& icc) {
    ComApartment com;
    IWICImagingFactory* made = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(&made))))
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
    if (FAILED(frame->GetPixelFormat(&format)) || !IsEqualGUID(format, GUID_WICPixelFormat32bppCMYK) ||
        FAILED(frame->GetSize(&width, &height)) || width == 0 || height == 0)
        return nullptr;
    return SrgbFromCmyk(width, height, icc, [&](UINT top, UINT rows, BYTE* cmyk) {
        WICRect band{0, static_cast<INT>(top), static_cast<INT>(width), static_cast<INT>(rows)};
        return SUCCEEDED(frame->CopyPixels(&band, width * 4, width * 4 * rows, cmyk));
    });
}
