#include "ui/FileFilter.h"

namespace tarvex {

namespace {

std::vector<std::string_view> SplitAtBars(std::string_view text) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t bar = text.find('|');
        parts.push_back(text.substr(0, bar));
        if (bar == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(bar + 1);
    }
}

}  // namespace

std::vector<FileFilterEntry> ParseFileFilter(std::string_view barList) {
    const std::vector<std::string_view> parts = SplitAtBars(barList);
    std::vector<FileFilterEntry> entries;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty()) {
            break;  // the empty entry that ends the list
        }
        entries.push_back({std::string(parts[i]), std::string(parts[i + 1])});
    }
    return entries;
}

}  // namespace tarvex
