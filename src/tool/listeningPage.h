// The listening report's page: the template listeningPage.html (its script from
// listeningRows.js and listeningPlots.js, joined by the build) with the prompts' numbers
// filled in as JSON, and their device files and sources as base64.
#pragma once

#include <string>
#include <vector>

namespace kestrune::tool {

struct FileResult;

// The page of the results that carry a Listening; `level` names the search level and
// tune, or is empty when unknown. Whatever the bytes of a name, warning or path, it stays
// text: it can neither end nor open an element, and bytes that are not UTF-8 become U+FFFD.
std::string listeningPage(const std::vector<FileResult>& results, const std::string& level);

}  // namespace kestrune::tool
