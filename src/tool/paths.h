// The names the tool makes from paths: "-" is standard input.
#pragma once

#include <string>

namespace kestrune::tool {

// The file name of a path; "standard input" for "-".
inline std::string nameOf(const std::string& path) {
    return path == "-" ? "standard input" : path.substr(path.rfind('/') + 1);
}

// A path as a message shows it: as it is, unless it holds what a terminal would act on
// or what is not UTF-8 (control characters, a newline, an escape sequence, a stray byte);
// then quoted for the shell as coreutils' ls and mv quote it: 'a'$'\n''b'.
std::string quoted(const std::string& path);

// An output as messages name it: "standard output" for "-".
inline std::string outputName(const std::string& path) {
    return path == "-" ? "standard output" : quoted(path);
}

// The folder a path names a file in, with its '/'; empty for a bare name.
inline std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The file name without its extension ("stdin" for "-"): the name of what is made of it.
inline std::string stemOf(const std::string& path) {
    const std::string name = path == "-" ? "stdin" : nameOf(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace kestrune::tool
