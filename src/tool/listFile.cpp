#include "tool/listFile.h"

#include <algorithm>
#include <cstdio>

#include "io/inputFile.h"

namespace kestrune::tool {

std::vector<std::string> listEntries(std::string_view text) {
    std::vector<std::string> entries;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos || line[first] == '#') continue;
        line = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
        entries.emplace_back(line);
    }
    return entries;
}

detail::Outcome<std::string> readWholeFile(const std::string& path) {
    detail::InputFile file(path);
    if (!file.opened) return file.opened.failure();
    std::string bytes;
    char buffer[1 << 14];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file.fp)) > 0;) {
        bytes.append(buffer, n);
    }
    if (std::ferror(file.fp) != 0) return detail::Failure::system(kStatusRead, "cannot read");
    return bytes;
}

detail::Outcome<std::vector<std::string>> readListFile(const std::string& path) {
    detail::Outcome<std::string> text = readWholeFile(path);
    if (!text) return text.failure();
    return listEntries(*text);
}

}  // namespace kestrune::tool
