#include "xmp_edit.h"

#include <string>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

size_t SkipSpace(const std::string& text, size_t at) {
    while (at < text.size() && IsSpace(text[at])) ++at;
    return at;
}

// Replaces the value of every attribute and simple element called name.
void SetProperty(std::string& xmp, const std::string& name, const std::string& value) {
    for (size_t at = xmp.find(name); at != std::string::npos; at = xmp.find(name, at + 1)) {
        size_t end = at + name.size();
        if (at == 0 || end >= xmp.size()) continue;
        char before = xmp[at - 1];
        if (before == '<') {
            size_t open = SkipSpace(xmp, end);
            if (open >= xmp.size() || xmp[open] != '>') continue;
            size_t close = xmp.find("</" + name, open + 1);
            size_t nested = xmp.find('<', open + 1);
            if (close == std::string::npos || nested != close) continue;  // not plain text
            xmp.replace(open + 1, close - open - 1, value);
        } else if (IsSpace(before)) {
            size_t equals = SkipSpace(xmp, end);
            if (equals >= xmp.size() || xmp[equals] != '=') continue;
            size_t quote = SkipSpace(xmp, equals + 1);
            if (quote >= xmp.size() || (xmp[quote] != '"' && xmp[quote] != '\'')) continue;
            size_t close = xmp.find(xmp[quote], quote + 1);
            if (close == std::string::npos) continue;
            xmp.replace(quote + 1, close - quote - 1, value);
        }
    }
}

}  // namespace

std::string XmpForOutput(const std::string& xmp, uint32_t width, uint32_t height) {
    std::string out = xmp;
    SetProperty(out, "tiff:Orientation", "1");
    SetProperty(out, "tiff:ImageWidth", std::to_string(width));
    SetProperty(out, "tiff:ImageLength", std::to_string(height));
    SetProperty(out, "exif:PixelXDimension", std::to_string(width));
    SetProperty(out, "exif:PixelYDimension", std::to_string(height));
    return out;
}
