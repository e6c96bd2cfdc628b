// Decoding one image file and writing it again in another format.
#pragma once

#include "metadata.h"
#include "resources.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class InputFile;

// Decodes any input Vorandel takes from the whole file in memory, which must outlive the
// picture: what GDI+ makes a bitmap of, WebP, and metafiles (drawn on white). Null when the
// file cannot be decoded.
ImagePtr LoadImageFile(const InputFile& input);

// The container of an output format that holds metadata; none for BMP and GIF.
std::optional<MetadataContainer> MetadataContainerOf(const std::wstring& mimeType);

// What of a whole file's metadata its outputs may carry: all that ReadMetadata finds, its
// profile only when that describes RGB pixels.
PhotoMetadata ReadCarriedMetadata(const uint8_t* data, size_t size);

// Index of the first installed encoder whose MIME type equals mimeType exactly,
// with its CLSID in clsid; -1 (clsid untouched) when there is none.
int GetEncoderClsid(const std::wstring& mimeType, CLSID& clsid);

// The encoder parameter list that carries quality; params points into quality,
// which must outlive it.
void FillQualityParameters(EncoderParameters& params, ULONG& quality);

// Decodes inputPath and writes it in the format of mimeType at quality into output, a file
// open for reading and writing, from its current position; true when all of it is there and
// on disk. decoded, when given, is told the picture's pixel count once the input is decoded
// and the rest is the encoder's work. GDI+ never gets a path: it reads from the input's bytes
// and writes through the handle. The output is given the input's dates.
bool ConvertImageInto(const std::wstring& inputPath, HANDLE output, const std::wstring& mimeType,
                      int quality,
                      const std::function<void(unsigned long long pixels)>& decoded = {});

// Converts inputPath into outputPath with the encoder for mimeType, replacing what is there;
// true when written. The output is written under a temporary name beside it first and takes
// its name only when complete, so it never appears half-written.
bool ConvertImageFile(const std::wstring& inputPath, const std::wstring& outputPath,
                      const std::wstring& mimeType, int quality);
