#include "structurefile.h"

#include <cstdio>

namespace vx {
namespace {

bool StartsName(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

std::string_view LineAt(std::string_view text, size_t start) {
    size_t end = text.find_first_of("\r\n", start);
    return text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

size_t NextLineStart(std::string_view text, size_t start) {
    size_t end = text.find('\n', start);
    return end == std::string_view::npos ? text.size() : end + 1;
}

}  // namespace

std::string_view DescriptorLineAfter(std::string_view text, size_t from) {
    for (size_t at = NextLineStart(text, from); at < text.size(); at = NextLineStart(text, at)) {
        std::string_view line = LineAt(text, at);
        if (line.find("//") != std::string_view::npos) continue;
        if (!line.empty() && StartsName(line.front())) return line;
    }
    return {};
}

std::string_view DescriptorName(std::string_view line) { return line.substr(0, line.find_first_of(":; \r")); }

bool FindStructureEntry(std::string_view text, std::string_view idString, StructureEntry* entry) {
    std::string_view section;
    for (size_t at = 0; at < text.size(); at = NextLineStart(text, at)) {
        std::string_view line = LineAt(text, at);
        if (!line.empty() && line.front() == '[') {
            size_t close = line.rfind(']');
            section = line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
            continue;
        }
        if (line.size() < kIdStringLength || line.substr(0, kIdStringLength) != idString) continue;
        entry->section = section;
        entry->line = DescriptorLineAfter(text, at);
        entry->name = DescriptorName(entry->line);
        return true;
    }
    return false;
}

bool DescriptorIndex(std::string_view line, int* index) {
    size_t semicolon = line.find(';');
    if (semicolon == std::string_view::npos) return false;
    std::string_view rest = line.substr(semicolon + 1);
    size_t digits = rest.find_first_of("0123456789");
    if (digits == std::string_view::npos || rest.substr(0, digits).find_first_not_of(" ") != std::string_view::npos)
        return false;
    int value = 0;
    for (size_t i = digits; i < rest.size() && i < digits + 9 && rest[i] >= '0' && rest[i] <= '9'; ++i)
        value = value * 10 + (rest[i] - '0');
    *index = value;
    return true;
}

std::string SectionHeader(std::string_view text) { return "[" + std::string(text) + "]"; }

void AppendSectionHeader(std::string& out, std::string_view text) { out.append("\r\n\r\n").append(SectionHeader(text)); }

void AppendInterfaceEntry(std::string& out, std::string_view idString, std::string_view line) {
    out.append("\r\n");
    out.append(idString);
    out.append("\r\n");
    out.append(line);
}

std::string DescriptorNumbersText(const DescriptorNumbers& n) {
    char text[96];
    std::snprintf(text, sizeof text, "; %d; %d, %d; %d, %d; %d;", n.index, n.gap, n.order, n.smallest, n.largest,
                  n.registered);
    return text;
}

}  // namespace vx
