// The prompt set's manifest that `kestrune-adpcm build` reads: a CSV file (RFC 4180,
// UTF-8, a header row) with a column `name`, per language code LANG a column `LANG` (the
// recording's path, relative to the manifest's folder, empty while there is none) and a
// column `LANG.text` (what the prompt says), and optional per-prompt columns `rate`,
// `bits`, `level` and `loudness`.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "io/failure.h"

namespace kestrune::tool {

// A field's text and where it starts (1-based line and column, the column in characters).
struct ManifestCell {
    std::string value;
    std::size_t line = 0, column = 0;
};

struct ManifestPrompt {
    ManifestCell name;
    std::map<std::string, ManifestCell> recording, text;  // by language
    std::map<std::string, ManifestCell> options;          // rate, bits, level, loudness
};

struct Manifest {
    std::string path;                    // as given
    std::vector<std::string> languages;  // in the header's order
    std::vector<ManifestPrompt> prompts;
};

// The per-prompt columns, in the header's spelling.
inline constexpr const char* kManifestOptions[] = {"rate", "bits", "level", "loudness"};

// Parses the manifest's text; `path` names it in messages. Fails (kStatusFormat, the reason
// "PATH:LINE:COLUMN: why") at the first fault: the CSV is malformed or not UTF-8, a column
// is unknown, doubled or missing, a name is not a C identifier or is doubled, a row has
// more or fewer fields than the header.
detail::Outcome<Manifest> parseManifest(std::string_view text, const std::string& path);

// "PATH:LINE:COLUMN: why" for a cell.
std::string cellProblem(const std::string& path, const ManifestCell& cell, const std::string& why);

}  // namespace kestrune::tool
