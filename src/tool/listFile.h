// List files, as pack's --list and report's --sources take them: one entry a line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "io/failure.h"

namespace kestrune::tool {

// The entries of a list's text: its lines with spaces and tabs cut at both ends (and a
// carriage return at the end), blank lines and those starting with '#' left out.
std::vector<std::string> listEntries(std::string_view text);

// The whole of the file at path ("-": standard input). Fails when it cannot be read: it
// cannot be opened or is a folder (kStatusInputOpen), or a read fails (kStatusRead).
detail::Outcome<std::string> readWholeFile(const std::string& path);

// The entries of the list file at path ("-": standard input), failing as readWholeFile does.
detail::Outcome<std::vector<std::string>> readListFile(const std::string& path);

}  // namespace kestrune::tool
