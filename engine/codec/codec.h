// Decoding one image file and writing it again in another format.
#pragma once

#include "resources.h"

#include <functional>
#include <string>

// Decodes any input Vorandel takes: what GDI+ makes a bitmap of, WebP, and metafiles
// (drawn on white). Null when the file cannot be decoded.
ImagePtr LoadImageFile(const std::wstring& path);

// Index of the first installed encoder whose MIME type equals mimeType exactly,
// with its CLSID in clsid; -1 (clsid untouched) when there is none.
int GetEncoderClsid(const std::wstring& mimeType, CLSID& clsid);

// The encoder parameter list that carries quality; params points into quality,
// which must outlive it.
void FillQualityParameters(EncoderParameters& params, ULONG& quality);

// Converts inputPath into outputPath with the encoder for mimeType; true when written. The
// output is written into a temporary file beside it first and moved into place only when
// complete, so it never appears half-written.
bool ConvertImageFile(const std::wstring& inputPath, const std::wstring& outputPath,
                      const std::wstring& mimeType, int quality);

// ConvertImageFile with the temporary file named by the caller, who may have created it
// already; it is replaced, then moved onto outputPath, and deleted on failure. decoded, when
// given, is told the picture's pixel count once the input is decoded and the rest is the
// encoder's work.
bool ConvertImageFileVia(const std::wstring& inputPath, const std::wstring& temporaryPath,
                         const std::wstring& outputPath, const std::wstring& mimeType,
                         int quality,
                         const std::function<void(unsigned long long pixels)>& decoded = {});
