#pragma once
// The file dialog's filter as the engine words it, "Description(*.dat)|*.dat||": description
// and pattern pairs, each followed by a bar, an empty description ending the list. Each window
// turns the entries into what its own file dialog takes. Pure.

#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

struct FileFilterEntry {
    std::string Description;  // as written, UTF-8
    std::string Patterns;     // as written: one or more patterns separated by ';'
};

// The entries up to the empty description (or the end); a description without its patterns
// is left out.
std::vector<FileFilterEntry> ParseFileFilter(std::string_view barList);

}  // namespace tarvex
