// The listening page from names, warnings and bytes that come from outside. The input,
// split at each zero byte, gives in turn a prompt's input path, a warning, its device
// file and its source. Whatever they hold, the page's data stays one script element with
// no '<' in it (so no "</script" or "<!--"), valid JSON holding every prompt, and the
// page holds one script element for each file besides the template's two.
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string_view>

#include "tool/jobs.h"
#include "tool/listening.h"
#include "tool/listeningPage.h"

using namespace kestrune::tool;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            parts.emplace_back();
        } else {
            parts.back() += static_cast<char>(data[i]);
        }
    }
    std::vector<FileResult> results;
    std::size_t files = 0;
    for (std::size_t i = 0; i < parts.size(); i += 4) {
        const auto part = [&](std::size_t k) { return i + k < parts.size() ? parts[i + k] : ""; };
        FileResult r;
        r.input = part(0);
        r.warnings = {part(1)};
        r.rate = 8000;
        r.bits = 4;
        auto l = std::make_shared<Listening>();
        const std::string device = part(2), source = part(3);
        l->device.assign(device.begin(), device.end());
        l->source.assign(source.begin(), source.end());
        files += 1 + !l->source.empty();
        r.listening = std::move(l);
        results.push_back(std::move(r));
    }
    const std::string page = listeningPage(results, "5 perceptual");
    const std::string_view open = "<script id=\"kestrune-data\" type=\"application/json\">";
    const std::size_t from = page.find(open);
    if (from == std::string::npos || page.find(open, from + 1) != std::string::npos) std::abort();
    const std::size_t end = page.find("</script", from);
    const std::string json = page.substr(from + open.size(), end - from - open.size());
    if (json.find('<') != std::string::npos) std::abort();
    const auto parsed = nlohmann::json::parse(json, nullptr, false);
    if (parsed.is_discarded() || parsed["prompts"].size() != results.size()) std::abort();
    std::size_t scripts = 0;
    for (std::size_t at = 0; (at = page.find("<script", at)) != std::string::npos; ++at) ++scripts;
    if (scripts != 2 + files) std::abort();
    return 0;
}
