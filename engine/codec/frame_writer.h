// A sequence of fitted frames written in an output format: every frame where the format holds
// them (an animation in GIF and WEBP, pages and frames in TIFF), the one picture otherwise.
// Each frame is encoded once it comes, and only the encoder's state is kept.
#pragma once

#include "frame_reader.h"
#include "resources.h"
#include "webp_codec.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class SequenceKind {
    Still,          // the first frame alone
    // Frames, delays, transparency and loop count in a GIF put together from the one-frame GIFs
    // GDI+ encodes: Wine's GIF encoder refuses frames added to a save (GdipSaveAdd), and one
    // container of Vorandel's own makes the same file on every platform.
    GifAnimation,
    WebPAnimation,  // the same through libwebp's animation encoder
    TiffPages,      // every frame a page, through GDI+'s multi-frame save
};

struct FrameWriter {
    SequenceKind kind = SequenceKind::Still;
    CLSID clsid{};
    int quality = 0;
    int plays = 1;
    // The open output file, when the sequence goes straight into it; else into encoded.
    HANDLE file = nullptr;
    std::vector<uint8_t> encoded;
    size_t written = 0;
    UINT width = 0, height = 0;  // of the first frame

    StreamPtr stream;     // a TIFF's, from its first page to its end
    ImagePtr firstPage;   // the picture GDI+'s multi-frame encoder belongs to
    std::vector<uint8_t> frameBytes;
    WebPAnimationOutput webp;
};

// How a picture of frames becomes a file of mimeType's format.
SequenceKind SequenceFor(const FrameReader& frames, const std::wstring& mimeType);

// How many of the frames a sequence of kind keeps.
size_t KeptFrames(SequenceKind kind, const FrameReader& frames);

// Starts writer for frames of kind with clsid's encoder at quality; into file when it is not
// null (the sequence has no metadata to get), else into writer.encoded.
void StartSequence(FrameWriter& writer, SequenceKind kind, const CLSID& clsid, int quality,
                   int plays, HANDLE file);

// Encodes the next frame, fitted for the format, shown delayMs in an animation. The frame
// may be disposed of as soon as the encoder holds its pixels.
bool WriteFrame(FrameWriter& writer, ImagePtr frame, unsigned delayMs);

// Ends the sequence: its bytes in writer.encoded, or all of it in the file.
bool FinishSequence(FrameWriter& writer);
