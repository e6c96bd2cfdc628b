#include "xmp_edit.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kExtendedPointer[] = "xmpNote:HasExtendedXMP";
constexpr char kRdf[] = "rdf:RDF";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct Attribute {
    std::string name;
    size_t begin;       // the space before its name
    size_t valueBegin;  // past its opening quote
    size_t valueEnd;    // at its closing quote
};

// One piece of markup: a start, end or empty-element tag, or something else (a comment, a
// processing instruction, CDATA, a declaration), which has no name.
struct Tag {
    size_t begin, end;  // its '<', past its '>'
    bool closing = false, empty = false;
    std::string name;
    std::vector<Attribute> attributes;
};

size_t SkipSpace(const std::string& text, size_t at) {
    while (at < text.size() && IsSpace(text[at])) ++at;
    return at;
}

size_t NameEnd(const std::string& text, size_t at) {
    while (at < text.size() && !IsSpace(text[at]) && text[at] != '=' && text[at] != '>' &&
           text[at] != '/' && text[at] != '<' && text[at] != '"' && text[at] != '\'')
        ++at;
    return at;
}

// The markup from the '<' at `at`; false when it is not well formed or not closed.
bool ReadTag(const std::string& xml, size_t at, Tag& tag) {
    tag = Tag();
    tag.begin = at;
    for (const auto& [open, close] : {std::pair<const char*, const char*>{"<!--", "-->"},
                                      {"<![CDATA[", "]]>"}, {"<?", "?>"}, {"<!", ">"}}) {
        if (xml.compare(at, std::char_traits<char>::length(open), open) != 0) continue;
        size_t found = xml.find(close, at + std::char_traits<char>::length(open));
        if (found == std::string::npos) return false;
        tag.end = found + std::char_traits<char>::length(close);
        return true;
    }
    size_t name = at + 1;
    tag.closing = name < xml.size() && xml[name] == '/';
    if (tag.closing) ++name;
    size_t nameEnd = NameEnd(xml, name);
    if (nameEnd == name) return false;
    tag.name = xml.substr(name, nameEnd - name);
    for (size_t next = nameEnd;;) {
        size_t start = SkipSpace(xml, next);
        if (start >= xml.size()) return false;
        if (xml[start] == '>') {
            tag.end = start + 1;
            return true;
        }
        if (xml.compare(start, 2, "/>") == 0 && !tag.closing) {
            tag.empty = true;
            tag.end = start + 2;
            return true;
        }
        size_t end = NameEnd(xml, start);
        if (tag.closing || start == next || end == start) return false;  // names stand apart
        size_t equals = SkipSpace(xml, end);
        if (equals >= xml.size() || xml[equals] != '=') return false;
        size_t quote = SkipSpace(xml, equals + 1);
        if (quote >= xml.size() || (xml[quote] != '"' && xml[quote] != '\'')) return false;
        size_t close = xml.find_first_of(std::string{xml[quote], '<'}, quote + 1);
        if (close == std::string::npos || xml[close] == '<') return false;
        tag.attributes.push_back({xml.substr(start, end - start), next, quote + 1, close});
        next = close + 1;
    }
}

// The packet's markup in order, up to where it stops being well formed.
std::vector<Tag> ReadTags(const std::string& xml) {
    std::vector<Tag> tags;
    Tag tag;
    for (size_t at = xml.find('<'); at != std::string::npos && ReadTag(xml, at, tag);
         at = xml.find('<', tag.end))
        tags.push_back(tag);
    return tags;
}

struct Property {
    size_t begin, end;            // the whole attribute (with the space before it) or element
    size_t valueBegin, valueEnd;  // its value
};

// Every attribute called name, and every element called name that holds only text.
std::vector<Property> FindProperties(const std::vector<Tag>& tags, const std::string& name) {
    std::vector<Property> found;
    for (size_t i = 0; i < tags.size(); ++i) {
        const Tag& tag = tags[i];
        for (const Attribute& attribute : tag.attributes)
            if (attribute.name == name)
                found.push_back({attribute.begin, attribute.valueEnd + 1, attribute.valueBegin,
                                 attribute.valueEnd});
        if (tag.name == name && !tag.closing && !tag.empty && i + 1 < tags.size() &&
            tags[i + 1].closing && tags[i + 1].name == name)
            found.push_back({tag.begin, tags[i + 1].end, tag.end, tags[i + 1].begin});
    }
    return found;
}

struct Edit {
    size_t begin, end;
    std::string text;
};

// The text with each span replaced; spans do not overlap.
std::string Apply(const std::string& text, std::vector<Edit> edits) {
    std::stable_sort(edits.begin(), edits.end(),
                     [](const Edit& a, const Edit& b) { return a.begin < b.begin; });
    std::string out;
    size_t copied = 0;
    for (const Edit& edit : edits) {
        out.append(text, copied, edit.begin - copied);
        out += edit.text;
        copied = edit.end;
    }
    out.append(text, copied, std::string::npos);
    return out;
}

void SetValues(const std::vector<Tag>& tags, const std::string& name, const std::string& value,
               std::vector<Edit>& edits) {
    for (const Property& property : FindProperties(tags, name))
        edits.push_back({property.valueBegin, property.valueEnd, value});
}

void RemovePointer(const std::vector<Tag>& tags, std::vector<Edit>& edits) {
    for (const Property& property : FindProperties(tags, kExtendedPointer))
        edits.push_back({property.begin, property.end, ""});
}

const Tag* FindTag(const std::vector<Tag>& tags, const std::string& name, bool closing) {
    for (const Tag& tag : tags)
        if (tag.name == name && tag.closing == closing && !tag.empty) return &tag;
    return nullptr;
}

bool Declares(const Tag* tag, const std::string& name) {
    return tag && std::any_of(tag->attributes.begin(), tag->attributes.end(),
                              [&](const Attribute& a) { return a.name == name; });
}

}  // namespace

std::string XmpForOutput(const std::string& xmp, uint32_t width, uint32_t height) {
    std::vector<Tag> tags = ReadTags(xmp);
    std::vector<Edit> edits;
    SetValues(tags, "tiff:Orientation", "1", edits);
    SetValues(tags, "tiff:ImageWidth", std::to_string(width), edits);
    SetValues(tags, "tiff:ImageLength", std::to_string(height), edits);
    SetValues(tags, "exif:PixelXDimension", std::to_string(width), edits);
    SetValues(tags, "exif:PixelYDimension", std::to_string(height), edits);
    return Apply(xmp, std::move(edits));
}

std::string ExtendedXmpGuid(const std::string& xmp) {
    std::vector<Property> found = FindProperties(ReadTags(xmp), kExtendedPointer);
    if (found.empty()) return "";
    size_t begin = SkipSpace(xmp, found[0].valueBegin), end = found[0].valueEnd;
    while (end > begin && IsSpace(xmp[end - 1])) --end;
    return xmp.substr(begin, end - begin);
}

std::string WithExtendedXmpPointer(const std::string& xmp, const std::string& guid) {
    std::vector<Tag> tags = ReadTags(xmp);
    std::vector<Edit> edits;
    if (guid.empty())
        RemovePointer(tags, edits);
    else
        SetValues(tags, kExtendedPointer, guid, edits);
    return Apply(xmp, std::move(edits));
}

std::string MergedXmp(const std::string& main, const std::string& extension) {
    std::vector<Tag> tags = ReadTags(main), extensionTags = ReadTags(extension);
    std::vector<Edit> edits;
    RemovePointer(tags, edits);
    const Tag* rdf = FindTag(tags, kRdf, false);
    const Tag* rdfEnd = FindTag(tags, kRdf, true);
    const Tag* from = FindTag(extensionTags, kRdf, false);
    const Tag* to = FindTag(extensionTags, kRdf, true);
    if (rdf && rdfEnd && from && to && from->end <= to->begin && rdf->end <= rdfEnd->begin) {
        // Namespaces declared above the extension's descriptions go onto main's rdf:RDF.
        const Tag* meta = FindTag(tags, "x:xmpmeta", false);
        std::vector<std::string> added;
        std::string declarations;
        for (const Tag* outer : {FindTag(extensionTags, "x:xmpmeta", false), from}) {
            if (!outer) continue;
            for (const Attribute& a : outer->attributes) {
                if (a.name.compare(0, 6, "xmlns:") != 0 || Declares(rdf, a.name) ||
                    Declares(meta, a.name) ||
                    std::find(added.begin(), added.end(), a.name) != added.end())
                    continue;
                added.push_back(a.name);
                size_t start = SkipSpace(extension, a.begin);
                declarations += " " + extension.substr(start, a.valueEnd + 1 - start);
            }
        }
        edits.push_back({rdf->end - 1, rdf->end - 1, declarations});
        edits.push_back({rdfEnd->begin, rdfEnd->begin,
                         extension.substr(from->end, to->begin - from->end)});
    }
    return Apply(main, std::move(edits));
}
