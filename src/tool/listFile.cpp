#include "tool/listFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "io/inputFile.h"

using kestrune::detail::InputFile;

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

bool readWholeFile(const std::string& path, std::string* bytes, std::string* problem) {
    InputFile file(path);
    if (!file.problem.empty()) {
        *problem = file.problem;
        return false;
    }
    bytes->clear();
    char buffer[1 << 14];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file.fp)) > 0;) {
        bytes->append(buffer, n);
    }
    if (std::ferror(file.fp) != 0) {
        *problem = std::string("cannot read: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool readListFile(const std::string& path, std::vector<std::string>* entries,
                  std::string* problem) {
    std::string text;
    if (!readWholeFile(path, &text, problem)) return false;
    *entries = listEntries(text);
    return true;
}

}  // namespace kestrune::tool
