#include "codec.h"

#include "cmyk_jpeg.h"
#include "colours.h"
#include "exif_edit.h"
#include "files.h"
#include "frame_reader.h"
#include "frame_writer.h"
#include "gif_palette.h"
#include "icon_directory.h"
#include "metadata.h"
#include "picture.h"
#include "picture_size.h"
#include "streams.h"
#include "temporary_files.h"
#include "webp_codec.h"

#include <shlwapi.h>

#include <cwchar>
#include <optional>
#include <utility>
#include <vector>

namespace {

ImagePtr LoadFromStream(IStream* stream) {
    GpBitmap* bitmap = nullptr;
    if (!stream || GdipCreateBitmapFromStream(stream, &bitmap) != Ok) return nullptr;
    return ImagePtr(bitmap);
}

// A picture decoded from bytes that GDI+ reads from a copy of its own.
ImagePtr LoadCopy(const std::vector<uint8_t>& bytes) {
    StreamPtr stream(SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size())));
    return LoadFromStream(stream.get());
}

// A GIF without any colour table, decoded from a copy in memory that has one.
ImagePtr LoadPaletteLessGif(const InputFile& input) {
    if (input.size() > kMaxFileBytes) return nullptr;
    std::vector<uint8_t> gif(input.data(), input.data() + input.size());
    AddGreyPalette(gif);
    return LoadCopy(gif);
}

// An icon's largest picture alone, as each platform's decoder takes another one of several.
// A PNG picture is decoded as the PNG file it is.
ImagePtr LoadLargestIconPicture(const InputFile& input) {
    std::optional<IconPicture> largest =
        LargestIconPicture(ReadIconPictures(input.data(), input.size()));
    if (!largest || largest->size > kMaxFileBytes) return nullptr;
    if (!largest->png) return LoadCopy(IconOfOnePicture(input.data(), *largest));
    return LoadFromStream(StreamOverBytes(input.data() + largest->offset, largest->size).get());
}

// Decoders allocate what the headers declare, so a picture too large to hold is refused on
// its headers alone, and so is one of a known format whose size cannot be read.
bool DeclaresTooLarge(const InputFile& input) {
    uint64_t width = 0;
    uint64_t height = 0;
    switch (ReadDeclaredSize(input.data(), input.size(), width, height)) {
    case DeclaredSize::Found:
        return width * height > kMaxPixels;
    case DeclaredSize::Damaged:
        return true;
    case DeclaredSize::OtherFormat:
        break;
    }
    return false;
}

// A CMYK JPEG through the CMYK profile it carries; null for any other file.
ImagePtr LoadProfiledCmykJpeg(const InputFile& input) {
    if (input.size() < 2 || input.data()[0] != 0xFF || input.data()[1] != 0xD8) return nullptr;
    std::string icc = ReadMetadata(input.data(), input.size()).icc;
    return DescribesCmykPixels(icc) ? LoadCmykJpeg(input.data(), input.size(), icc) : nullptr;
}

// A metafile drawn on white at its own size.
ImagePtr LoadMetafile(IStream* stream) {
    GpImage* loaded = nullptr;
    if (GdipLoadImageFromStream(stream, &loaded) != Ok) return nullptr;
    ImagePtr metafile(loaded);
    ImageType type = ImageTypeUnknown;
    if (GdipGetImageType(loaded, &type) != Ok || type != ImageTypeMetafile) return nullptr;
    return RenderMetafile(loaded);
}

// Makes the picture one that the output format shows as the user saw the input. icc is the
// input's profile of its RGB pixels, or empty. A frame of an animated GIF keeps its
// transparent pixels transparent; a still GIF, as every picture without alpha, shows them on
// white.
bool FitForFormat(ImagePtr& image, int orientation, const std::string& icc,
                  const std::wstring& mimeType, SequenceKind sequence) {
    if (!TurnUpright(image.get(), orientation)) return false;
    bool gif = mimeType == L"image/gif";
    std::vector<uint8_t> clear;
    if ((gif || mimeType == L"image/jpeg" || mimeType == L"image/bmp") && HasAlpha(image.get())) {
        if (sequence == SequenceKind::GifAnimation) clear = TransparentPixels(image.get());
        image = OnWhite(image.get());
        if (!image) return false;
    }
    // A file that cannot say which colours it holds is shown as sRGB.
    if (!icc.empty() && !MetadataContainerOf(mimeType) && !ConvertToSrgb(image.get(), icc))
        return false;
    PixelFormat format = 0;
    GdipGetImagePixelFormat(image.get(), &format);
    // Wine's GIF encoder fails on 1- and 4-bit palette pictures too.
    if (gif && format != PixelFormat8bppIndexed) image = ToIndexedColor(image.get());
    return image != nullptr && (clear.empty() || MakeTransparent(image.get(), clear));
}

}  // namespace

std::optional<MetadataContainer> MetadataContainerOf(const std::wstring& mimeType) {
    if (mimeType == L"image/jpeg") return MetadataContainer::Jpeg;
    if (mimeType == L"image/png") return MetadataContainer::Png;
    if (mimeType == L"image/tiff") return MetadataContainer::Tiff;
    if (mimeType == kWebPMimeType) return MetadataContainer::WebP;
    return std::nullopt;
}

// Read by Vorandel itself: GDI+ under Wine shows no metadata, and on Windows it shows neither
// XMP nor a WebP's.
PhotoMetadata ReadCarriedMetadata(const uint8_t* data, size_t size) {
    PhotoMetadata metadata = ReadMetadata(data, size);
    if (!DescribesRgbPixels(metadata.icc)) metadata.icc.clear();
    return metadata;
}

// A file that could not be read fails here: the guards below would see no bytes.
ImagePtr LoadImageFile(const InputFile& input) {
    if (!input.valid() || DeclaresTooLarge(input)) return nullptr;
    if (LacksGifPalette(input.data(), input.size())) return LoadPaletteLessGif(input);
    if (IsIcon(input.data(), input.size())) return LoadLargestIconPicture(input);
    if (ImagePtr cmyk = LoadProfiledCmykJpeg(input)) return cmyk;
    StreamPtr stream = StreamOverBytes(input.data(), input.size());
    if (!stream) return nullptr;
    // Told by their bytes before GDI+ sees them: on Windows it makes bitmaps of metafiles
    // itself, transparent and at its own resolution; Wine's makes none.
    if (IsMetafile(input.data(), input.size())) return LoadMetafile(stream.get());
    if (ImagePtr bitmap = LoadFromStream(stream.get())) return bitmap;
    // GDI+ has no WebP decoder.
    if (!IsWebP(input.data(), input.size())) return nullptr;
    GpBitmap* webp = nullptr;
    return LoadWebPBitmap(input.data(), input.size(), &webp) == Ok ? ImagePtr(webp) : nullptr;
}

int GetEncoderClsid(const std::wstring& mimeType, CLSID& clsid) {
    UINT count = 0;
    UINT size = 0;
    GdipGetImageEncodersSize(&count, &size);
    if (size == 0) count = 0;
    if (count > 0) {
        MallocPtr<ImageCodecInfo> encoders(static_cast<ImageCodecInfo*>(std::malloc(size)));
        // A failed fill leaves the buffer undefined: then no platform encoder is known.
        if (!encoders || GdipGetImageEncoders(count, size, encoders.get()) != Ok) count = 0;
        for (UINT i = 0; i < count; ++i) {
            if (wcscmp(encoders.get()[i].MimeType, mimeType.c_str()) == 0) {
                clsid = encoders.get()[i].Clsid;
                return static_cast<int>(i);
            }
        }
    }
    // WebP has no platform encoder; Vorandel's own follows the platform's list.
    if (mimeType == kWebPMimeType) {
        clsid = kWebPEncoderClsid;
        return static_cast<int>(count);
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

bool ConvertImageInto(const std::wstring& inputPath, HANDLE output, const std::wstring& mimeType,
                      int quality, const std::function<void(unsigned long long pixels)>& decoded) {
    // The whole input in memory. It outlives the frames, which GDI+ may go on reading from it.
    InputFile input(inputPath, kMaxFileBytes);
    FrameReader frames;
    if (!OpenFrames(input, frames)) return false;
    if (decoded) decoded(frames.pixels);
    CLSID clsid;
    if (GetEncoderClsid(mimeType, clsid) < 0) return false;
    PhotoMetadata metadata = ReadCarriedMetadata(input.data(), input.size());
    const int orientation = ExifOrientation(metadata.exif);
    // With metadata to carry, the file is encoded in memory first, so that it reaches the disk
    // whole; else it goes straight into the file.
    std::optional<MetadataContainer> container =
        metadata.empty() ? std::nullopt : MetadataContainerOf(mimeType);
    FrameWriter writer;
    const SequenceKind sequence = SequenceFor(frames, mimeType);
    StartSequence(writer, sequence, clsid, quality, frames.plays, container ? nullptr : output);
    const size_t kept = KeptFrames(sequence, frames);
    for (size_t i = 0; i < kept; ++i) {
        unsigned delayMs = 0;
        ImagePtr frame = ReadFrame(frames, i + 1 == kept, delayMs);
        if (!frame || !FitForFormat(frame, orientation, metadata.icc, mimeType, sequence) ||
            !WriteFrame(writer, std::move(frame), delayMs))
            return false;
    }
    if (!FinishSequence(writer)) return false;
    // The file is made durable before it can have its name: after a power cut NTFS could
    // otherwise leave an empty file under the final name, which every later run would skip
    // as existing. The encoder's own output is well formed; should it not be, the pixels
    // still count.
    if (writer.file == nullptr) {
        if (container)
            WriteMetadata(writer.encoded, *container,
                          MetadataForOutput(metadata, writer.width, writer.height));
        if (!WriteAll(output, writer.encoded.data(), writer.encoded.size())) return false;
    }
    if (!FlushFileBuffers(output)) return false;
    // The output keeps its original's dates, by which photo libraries and Explorer sort; a
    // file system that keeps other dates still has the picture.
    SetFileDates(output, input.dates());
    return true;
}

bool ConvertImageFile(const std::wstring& inputPath, const std::wstring& outputPath,
                      const std::wstring& mimeType, int quality) {
    TemporaryOutput output(FolderOf(outputPath));
    return output.valid() && ConvertImageInto(inputPath, output.handle(), mimeType, quality) &&
           output.PlaceAt(inputPath, outputPath, true) == Placement::Placed;
}
