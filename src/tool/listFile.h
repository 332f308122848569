// List files, as pack's --list and report's --sources take them: one entry a line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrune::tool {

// The entries of a list's text: its lines with spaces and tabs cut at both ends (and a
// carriage return at the end), blank lines and those starting with '#' left out.
std::vector<std::string> listEntries(std::string_view text);

// The whole of the file at path ("-": standard input). False, with *problem, when it cannot
// be read: it cannot be opened, is a folder, or a read fails.
bool readWholeFile(const std::string& path, std::string* bytes, std::string* problem);

// The entries of the list file at path ("-": standard input). False, with *problem, when it
// cannot be read: it cannot be opened, is a folder, or a read fails.
bool readListFile(const std::string& path, std::vector<std::string>* entries, std::string* problem);

}  // namespace kestrune::tool
