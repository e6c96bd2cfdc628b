#include "frame_writer.h"

#include "codec.h"
#include "files.h"
#include "gif_container.h"
#include "streams.h"

#include <utility>

namespace {

// GDI+ on Windows writes some of the decoded file's property items into what it saves, as
// they were; what an output carries is Vorandel's to decide, alike on every platform.
void ForgetPropertyItems(GpImage* image) {
    UINT count = 0;
    if (GdipGetPropertyCount(image, &count) != Ok || count == 0) return;
    std::vector<PROPID> ids(count);
    if (GdipGetPropertyIdList(image, count, ids.data()) != Ok) return;
    for (PROPID id : ids) GdipRemovePropertyItem(image, id);
}

// The quality, and for a multi-frame save what this call of it does.
struct SaveParameters {
    EncoderParameters list;
    EncoderParameter saveFlag;  // follows list.Parameter[0] in memory, as a second entry
    ULONG quality;
    ULONG flag;
};

void FillSaveParameters(SaveParameters& params, int quality, ULONG flag) {
    params.quality = static_cast<ULONG>(quality);
    FillQualityParameters(params.list, params.quality);
    params.flag = flag;
    if (flag == 0) return;
    params.list.Count = 2;
    params.saveFlag.Guid = EncoderSaveFlag;
    params.saveFlag.NumberOfValues = 1;
    params.saveFlag.Type = EncoderParameterValueTypeLong;
    params.saveFlag.Value = &params.flag;
}

bool Save(GpImage* image, const FrameWriter& writer, IStream* stream, ULONG flag) {
    SaveParameters params;
    FillSaveParameters(params, writer.quality, flag);
    return stream && GdipSaveImageToStream(image, stream, &writer.clsid, &params.list) == Ok;
}

StreamPtr OutputStream(FrameWriter& writer) {
    return writer.file ? StreamOverFile(writer.file) : StreamIntoBytes(writer.encoded);
}

// Bytes that are part of the output, into the file or after what is encoded so far.
bool Put(FrameWriter& writer, const std::vector<uint8_t>& bytes) {
    writer.written += bytes.size();
    if (writer.file) return WriteAll(writer.file, bytes.data(), bytes.size());
    writer.encoded.insert(writer.encoded.end(), bytes.begin(), bytes.end());
    return true;
}

// The palette index that a fitted GIF frame shows as transparent (its entry's alpha is 0),
// or -1.
int TransparentIndex(GpImage* image) {
    INT size = 0;
    if (GdipGetImagePaletteSize(image, &size) != Ok || size <= 0) return -1;
    std::vector<BYTE> block(static_cast<size_t>(size));
    auto* palette = reinterpret_cast<ColorPalette*>(block.data());
    if (GdipGetImagePalette(image, palette, size) != Ok) return -1;
    for (UINT i = 0; i < palette->Count; ++i)
        if (palette->Entries[i] >> 24 == 0) return static_cast<int>(i);
    return -1;
}

// Each frame is the whole canvas as a viewer shows it, so it replaces the one before it
// whole: its area is cleared first, where its transparent pixels show what lies behind.
bool WriteGifFrame(FrameWriter& writer, GpImage* frame, unsigned delayMs) {
    writer.frameBytes.clear();
    if (!Save(frame, writer, StreamIntoBytes(writer.frameBytes).get(), 0)) return false;
    std::vector<uint8_t> block;
    if (writer.written == 0) block = GifAnimationHead(static_cast<uint16_t>(writer.width),
                                                      static_cast<uint16_t>(writer.height),
                                                      writer.plays);
    return AppendGifFrame(block, writer.frameBytes.data(), writer.frameBytes.size(), 0, 0, delayMs,
                          TransparentIndex(frame), GifDisposal::Background) &&
           Put(writer, block);
}

bool WritePage(FrameWriter& writer, ImagePtr page) {
    if (!writer.firstPage) {
        writer.stream = OutputStream(writer);
        writer.firstPage = std::move(page);
        return Save(writer.firstPage.get(), writer, writer.stream.get(), EncoderValueMultiFrame);
    }
    SaveParameters params;
    FillSaveParameters(params, writer.quality, EncoderValueFrameDimensionPage);
    return GdipSaveAddImage(writer.firstPage.get(), page.get(), &params.list) == Ok;
}

}  // namespace

SequenceKind SequenceFor(const FrameReader& frames, const std::wstring& mimeType) {
    if (frames.count < 2) return SequenceKind::Still;
    if (mimeType == L"image/tiff") return SequenceKind::TiffPages;
    // Pages are not an animation: a GIF or WEBP of them holds the first.
    if (frames.kind != FrameKind::Animation) return SequenceKind::Still;
    if (mimeType == L"image/gif") return SequenceKind::GifAnimation;
    if (mimeType == kWebPMimeType) return SequenceKind::WebPAnimation;
    return SequenceKind::Still;
}

size_t KeptFrames(SequenceKind kind, const FrameReader& frames) {
    return kind == SequenceKind::Still ? 1 : frames.count;
}

void StartSequence(FrameWriter& writer, SequenceKind kind, const CLSID& clsid, int quality,
                   int plays, HANDLE file) {
    writer.kind = kind;
    writer.clsid = clsid;
    writer.quality = quality;
    writer.plays = plays;
    // libwebp's encoders give their bytes whole.
    writer.file = IsEqualCLSID(clsid, kWebPEncoderClsid) ? nullptr : file;
}

bool WriteFrame(FrameWriter& writer, ImagePtr frame, unsigned delayMs) {
    if (!frame) return false;
    ForgetPropertyItems(frame.get());
    UINT width = 0;
    UINT height = 0;
    if (GdipGetImageWidth(frame.get(), &width) != Ok || GdipGetImageHeight(frame.get(), &height) != Ok)
        return false;
    const bool first = writer.width == 0;
    if (first) {
        writer.width = width;
        writer.height = height;
    }
    switch (writer.kind) {
    case SequenceKind::Still:
        if (IsEqualCLSID(writer.clsid, kWebPEncoderClsid))
            return EncodeWebP(std::move(frame), writer.quality, writer.encoded);
        return Save(frame.get(), writer, OutputStream(writer).get(), 0);
    case SequenceKind::GifAnimation:
        return width == writer.width && height == writer.height &&
               WriteGifFrame(writer, frame.get(), delayMs);
    case SequenceKind::WebPAnimation:
        if (first && !StartWebPAnimation(width, height, writer.plays, writer.quality, writer.webp))
            return false;
        return AddWebPFrame(writer.webp, frame.get(), delayMs);
    case SequenceKind::TiffPages:
        return WritePage(writer, std::move(frame));
    }
    return false;
}

bool FinishSequence(FrameWriter& writer) {
    switch (writer.kind) {
    case SequenceKind::Still:
        return true;
    case SequenceKind::GifAnimation:
        return Put(writer, {kGifTrailer});
    case SequenceKind::WebPAnimation:
        return FinishWebPAnimation(writer.webp, writer.encoded);
    case SequenceKind::TiffPages: {
        SaveParameters params;
        FillSaveParameters(params, writer.quality, EncoderValueFlush);
        bool flushed = GdipSaveAdd(writer.firstPage.get(), &params.list) == Ok;
        writer.firstPage.reset();
        writer.stream.reset();
        return flushed;
    }
    }
    return false;
}
