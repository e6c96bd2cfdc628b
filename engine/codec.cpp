#include "codec.h"

#include "picture.h"
#include "resources.h"

#include <cwchar>

int GetEncoderClsid(const std::wstring& mimeType, CLSID& clsid) {
    UINT count = 0;
    UINT size = 0;
    GdipGetImageEncodersSize(&count, &size);
    if (size == 0) return -1;
    MallocPtr<ImageCodecInfo> encoders(static_cast<ImageCodecInfo*>(std::malloc(size)));
    if (!encoders) return -1;
    // A failed fill leaves the buffer undefined: treat it as no encoder at all.
    if (GdipGetImageEncoders(count, size, encoders.get()) != Ok) return -1;
    for (UINT i = 0; i < count; ++i) {
        if (wcscmp(encoders.get()[i].MimeType, mimeType.c_str()) == 0) {
            clsid = encoders.get()[i].Clsid;
            return static_cast<int>(i);
        }
    }
    return -1;
}

void FillQualityParameters(EncoderParameters& params, ULONG& quality) {
    params.Count = 1;
    params.Parameter[0].Guid = EncoderQuality;
    params.Parameter[0].NumberOfValues = 1;
    params.Parameter[0].Type = EncoderParameterValueTypeLong;
    params.Parameter[0].Value = &quality;
}

bool ConvertImageFile(const std::wstring& inputPath, const std::wstring& outputPath,
                      const std::wstring& mimeType, int quality) {
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromFile(inputPath.c_str(), &bitmap) != Ok) return false;
    ImagePtr image(bitmap);

    CLSID clsid;
    if (GetEncoderClsid(mimeType, clsid) < 0) return false;

    PixelFormat format = 0;
    GdipGetImagePixelFormat(image.get(), &format);
    if (mimeType == L"image/gif" && !(format & PixelFormatIndexed)) {
        image = ToIndexedColor(image.get());
        if (!image) return false;
    }

    ULONG qualityValue = static_cast<ULONG>(quality);
    EncoderParameters params;
    FillQualityParameters(params, qualityValue);
    return GdipSaveImageToFile(image.get(), outputPath.c_str(), &clsid, &params) == Ok;
}
