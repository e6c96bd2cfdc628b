#include "formats.h"

std::map<std::wstring, std::wstring> g_formatTable = {
    {L"BMP", L"image/bmp"},   {L"GIF", L"image/gif"},   {L"JPEG", L"image/jpeg"},
    {L"PNG", L"image/png"},   {L"TIFF", L"image/tiff"}, {L"WEBP", L"image/webp"},
};
