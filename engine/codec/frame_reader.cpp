#include "frame_reader.h"

#include "codec.h"
#include "files.h"
#include "gif_palette.h"
#include "picture.h"
#include "picture_size.h"
#include "streams.h"

#include <algorithm>
#include <utility>

namespace {

bool SizeOf(GpImage* image, UINT& width, UINT& height) {
    return GdipGetImageWidth(image, &width) == Ok && GdipGetImageHeight(image, &height) == Ok;
}

// GDI+ composes a GIF's later frames itself, but not alike everywhere: Wine's fills an area
// disposed to the background with the background colour, where browsers show what lies
// behind. Each frame is decoded here alone, and composed as browsers compose it.
bool OpenGif(const uint8_t* data, size_t size, FrameReader& reader) {
    GifLayout layout = ReadGifLayout(data, size);
    if (layout.frames.size() < 2) return false;
    reader.gif = std::move(layout);
    const std::vector<GifFrame>& frames = reader.gif.frames;
    // The first frame widens the screen, as decoders draw it whole (picture_size.h).
    UINT width = std::max<UINT>(reader.gif.width, UINT{frames[0].left} + frames[0].width);
    UINT height = std::max<UINT>(reader.gif.height, UINT{frames[0].top} + frames[0].height);
    reader.gif.width = static_cast<uint16_t>(std::min<UINT>(width, 65535));
    reader.gif.height = static_cast<uint16_t>(std::min<UINT>(height, 65535));
    reader.kind = FrameKind::Animation;
    reader.count = frames.size();
    reader.plays = reader.gif.plays;
    reader.data = data;
    const unsigned long long canvas = static_cast<unsigned long long>(width) * height;
    reader.pixels = canvas * reader.count;
    // Refused by OpenFrames, as a canvas beyond kMaxPixels is whatever its frames, and so is a
    // frame beyond it: the whole file fails rather than converting until that frame.
    bool tooLarge = canvas > kMaxPixels;
    for (const GifFrame& frame : frames)
        tooLarge = tooLarge || static_cast<unsigned long long>(frame.width) * frame.height > kMaxPixels;
    if (tooLarge) reader.pixels = std::max(reader.pixels, kMaxFramePixels + 1);
    if (reader.pixels > kMaxFramePixels) return true;
    reader.canvas.assign(static_cast<size_t>(reader.gif.width) * reader.gif.height, 0);
    return true;
}

void ClearArea(std::vector<uint32_t>& canvas, UINT canvasWidth, UINT canvasHeight,
               const GifFrame& frame) {
    const UINT right = std::min<UINT>(canvasWidth, UINT{frame.left} + frame.width);
    const UINT bottom = std::min<UINT>(canvasHeight, UINT{frame.top} + frame.height);
    for (UINT y = frame.top; y < bottom; ++y)
        for (UINT x = frame.left; x < right; ++x) canvas[static_cast<size_t>(y) * canvasWidth + x] = 0;
}

// Draws the GIF frame index on the reader's canvas, after its predecessor's disposal.
bool ComposeGifFrame(FrameReader& reader, size_t index) {
    const UINT width = reader.gif.width;
    const UINT height = reader.gif.height;
    const GifFrame& frame = reader.gif.frames[index];
    if (index > 0) {
        const GifFrame& previous = reader.gif.frames[index - 1];
        if (previous.disposal == GifDisposal::Background)
            ClearArea(reader.canvas, width, height, previous);
        else if (previous.disposal == GifDisposal::Previous && !reader.kept.empty())
            reader.canvas = reader.kept;
    }
    if (frame.disposal == GifDisposal::Previous) reader.kept = reader.canvas;

    std::vector<uint8_t> gif = SingleFrameGif(reader.data, frame);
    // Its colour table is the frame's own or the file's; a frame with neither is read in grey.
    if (frame.tableBytes == 0) AddGreyPalette(gif);
    StreamPtr stream = StreamOverBytes(gif.data(), gif.size());
    GpBitmap* decoded = nullptr;
    if (!stream || GdipCreateBitmapFromStream(stream.get(), &decoded) != Ok) return false;
    ImagePtr owner(decoded);
    BitmapBitsLock bits(decoded, frame.width, frame.height, ImageLockModeRead,
                        PixelFormat32bppARGB);
    if (!bits.locked()) return false;
    const UINT right = std::min<UINT>(width, UINT{frame.left} + frame.width);
    const UINT bottom = std::min<UINT>(height, UINT{frame.top} + frame.height);
    for (UINT y = frame.top; y < bottom; ++y) {
        const auto* in = reinterpret_cast<const uint32_t*>(bits.row(y - frame.top));
        uint32_t* out = reader.canvas.data() + static_cast<size_t>(y) * width;
        for (UINT x = frame.left; x < right; ++x)
            if (in[x - frame.left] >> 24 != 0) out[x] = in[x - frame.left];
    }
    return true;
}

// An animated WebP's frames, composed by libwebp.
bool OpenWebP(const uint8_t* data, size_t size, FrameReader& reader) {
    if (!OpenWebPAnimation(data, size, reader.webp)) {
        reader.webp = WebPAnimationInput{};
        return false;
    }
    reader.kind = FrameKind::Animation;
    reader.count = reader.webp.frames;
    reader.plays = reader.webp.plays;
    reader.pixels =
        static_cast<unsigned long long>(reader.webp.width) * reader.webp.height * reader.count;
    return true;
}

// A TIFF's pages, told apart by GDI+; together within the bounds by their directories.
void OpenPages(const InputFile& input, FrameReader& reader) {
    GUID pages = FrameDimensionPage;
    UINT count = 0;
    if (GdipImageGetFrameCount(reader.image.get(), &pages, &count) != Ok || count < 2) return;
    reader.kind = FrameKind::Pages;
    reader.count = count;
    reader.pixels = std::max(reader.pixels, DeclaredPixelsOfPages(input.data(), input.size()));
}

// The current page as a bitmap of its own, in its own pixel format where GDI+ can copy that.
ImagePtr CopyOfPage(GpImage* image) {
    UINT width = 0;
    UINT height = 0;
    PixelFormat format = PixelFormat32bppARGB;
    if (!SizeOf(image, width, height) || GdipGetImagePixelFormat(image, &format) != Ok)
        return nullptr;
    GpBitmap* copy = nullptr;
    if (GdipCloneBitmapAreaI(0, 0, static_cast<INT>(width), static_cast<INT>(height), format,
                             static_cast<GpBitmap*>(image), &copy) == Ok ||
        GdipCloneBitmapAreaI(0, 0, static_cast<INT>(width), static_cast<INT>(height),
                             PixelFormat32bppARGB, static_cast<GpBitmap*>(image), &copy) == Ok)
        return ImagePtr(copy);
    return nullptr;
}

}  // namespace

bool OpenFrames(const InputFile& input, FrameReader& reader) {
    reader = FrameReader{};
    if (!input.valid()) return false;
    if (OpenGif(input.data(), input.size(), reader) || OpenWebP(input.data(), input.size(), reader))
        return reader.pixels <= kMaxFramePixels;
    reader.image = LoadImageFile(input);
    UINT width = 0;
    UINT height = 0;
    if (!reader.image || !SizeOf(reader.image.get(), width, height)) return false;
    reader.pixels = static_cast<unsigned long long>(width) * height;
    ImageType type = ImageTypeUnknown;
    if (GdipGetImageType(reader.image.get(), &type) == Ok && type == ImageTypeBitmap)
        OpenPages(input, reader);
    return reader.pixels <= kMaxFramePixels;
}

ImagePtr ReadFrame(FrameReader& reader, bool last, unsigned& delayMs) {
    delayMs = 0;
    if (reader.next >= reader.count) return nullptr;
    const size_t index = reader.next++;
    if (reader.webp.decoder) return NextWebPFrame(reader.webp, delayMs);
    if (!reader.gif.frames.empty()) {
        if (!ComposeGifFrame(reader, index)) return nullptr;
        delayMs = reader.gif.frames[index].delayMs;
        return BitmapOfRows(reader.canvas.data(), reader.gif.width, reader.gif.height,
                            PixelFormat32bppARGB);
    }
    if (reader.kind == FrameKind::Pages) {
        GUID pages = FrameDimensionPage;
        if (GdipImageSelectActiveFrame(reader.image.get(), &pages, static_cast<UINT>(index)) != Ok)
            return nullptr;
    }
    if (last) return std::move(reader.image);
    return CopyOfPage(reader.image.get());
}
