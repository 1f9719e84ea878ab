// The type-library structure file: the scanner writes it, the kernel reads it.
// Its facts live here so that both sides agree:
//   [<type library path>]  or  [Interfaces from Registry without TypeLibs]
//   {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}      an interface entry
//   // ...                                      comment lines, skipped
//   Name:Base:IUnknown; B; G, D; MIN, MAX; R;   its descriptor line
// The writer starts every line with "\r\n" and a section with an empty line.
#pragma once

#include <string>
#include <string_view>

namespace vx {

inline constexpr std::string_view kRegistryOnlySection = "Interfaces from Registry without TypeLibs";
inline constexpr size_t kIdStringLength = 38;
// B of a descriptor line whose interface does not derive from IUnknown.
inline constexpr int kNotFromIUnknown = 999999;

struct StructureEntry {
    std::string_view section;  // the header's text, without the brackets ("" before any header)
    std::string_view line;     // the descriptor line, without its line break
    std::string_view name;     // the line up to the first ':', ';' or blank
};

// The descriptor line after `from`: the next line that begins with a letter or
// an underscore, lines containing "//" skipped. Empty when there is none.
std::string_view DescriptorLineAfter(std::string_view text, size_t from);

// The name part of a descriptor line.
std::string_view DescriptorName(std::string_view line);

// The first interface entry whose 38 characters equal idString exactly.
bool FindStructureEntry(std::string_view text, std::string_view idString, StructureEntry* entry);

// B, the first number of the line's numeric part; false when it has none.
bool DescriptorIndex(std::string_view line, int* index);

// Writer side.

// "\r\n\r\n[" text "]": an empty line, then the header; what follows the
// two line breaks (the "[") is where the section's entry starts.
inline constexpr size_t kSectionLead = 4;
void AppendSectionHeader(std::string& out, std::string_view text);
// The header line alone: "[" text "]".
std::string SectionHeader(std::string_view text);

// "\r\n" id "\r\n" line: an interface entry and its descriptor line (in the
// registry-only section the interface's name stands in for the line).
void AppendInterfaceEntry(std::string& out, std::string_view idString, std::string_view line);

// The numeric part of a descriptor line, B, G, D, MIN, MAX and R.
struct DescriptorNumbers {
    int index = kNotFromIUnknown;
    int gap = 0;
    int order = 0;
    int smallest = 0;
    int largest = 0;
    int registered = 0;
};
// "; B; G, D; MIN, MAX; R;"
std::string DescriptorNumbersText(const DescriptorNumbers& numbers);

}  // namespace vx
