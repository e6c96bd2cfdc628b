#include "xmp_edit.h"

#include <algorithm>
#include <string>

namespace {

// The values edited are numbers: a longer one is not theirs, and looking no further keeps a
// hostile packet of many unclosed names linear.
constexpr size_t kMaxValueBytes = 32;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

size_t SkipSpace(const std::string& text, size_t at) {
    while (at < text.size() && IsSpace(text[at])) ++at;
    return at;
}

// Where c next occurs within kMaxValueBytes after at, or npos.
size_t FindNear(const std::string& text, size_t at, char c) {
    size_t last = std::min(text.size(), at + kMaxValueBytes + 1);
    auto end = text.begin() + static_cast<std::ptrdiff_t>(last);
    auto found = std::find(text.begin() + static_cast<std::ptrdiff_t>(at), end, c);
    return found != end ? static_cast<size_t>(found - text.begin()) : std::string::npos;
}

// The span of the value of the property name found at at: name="value" or <name>value</name>.
bool ValueSpan(const std::string& xmp, size_t at, const std::string& name, size_t& begin,
               size_t& end) {
    size_t after = at + name.size();
    if (at == 0 || after >= xmp.size()) return false;
    char before = xmp[at - 1];
    if (before == '<') {
        size_t open = SkipSpace(xmp, after);
        if (open >= xmp.size() || xmp[open] != '>') return false;
        begin = open + 1;
        end = FindNear(xmp, begin, '<');  // plain text up to its closing tag, nothing nested
        return end != std::string::npos && xmp.compare(end, 2 + name.size(), "</" + name) == 0;
    }
    if (!IsSpace(before)) return false;
    size_t equals = SkipSpace(xmp, after);
    if (equals >= xmp.size() || xmp[equals] != '=') return false;
    size_t quote = SkipSpace(xmp, equals + 1);
    if (quote >= xmp.size() || (xmp[quote] != '"' && xmp[quote] != '\'')) return false;
    begin = quote + 1;
    end = FindNear(xmp, begin, xmp[quote]);
    return end != std::string::npos;
}

// The XMP with the value of every attribute and simple element called name replaced.
std::string SetProperty(const std::string& xmp, const std::string& name, const std::string& value) {
    std::string out;
    size_t copied = 0;
    for (size_t at = xmp.find(name); at != std::string::npos; at = xmp.find(name, at + 1)) {
        size_t begin = 0, end = 0;
        if (at < copied || !ValueSpan(xmp, at, name, begin, end)) continue;  // not inside a value
        out.append(xmp, copied, begin - copied);
        out += value;
        copied = end;
    }
    out.append(xmp, copied, std::string::npos);
    return out;
}

}  // namespace

std::string XmpForOutput(const std::string& xmp, uint32_t width, uint32_t height) {
    std::string out = SetProperty(xmp, "tiff:Orientation", "1");
    out = SetProperty(out, "tiff:ImageWidth", std::to_string(width));
    out = SetProperty(out, "tiff:ImageLength", std::to_string(height));
    out = SetProperty(out, "exif:PixelXDimension", std::to_string(width));
    return SetProperty(out, "exif:PixelYDimension", std::to_string(height));
}
