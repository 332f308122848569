// What build reads, on arbitrary bytes: the manifest (RFC 4180 CSV), whose prompts must all
// have names that are C identifiers and cells placed on real lines, and the lock file, which
// must read back as it writes and keep every ID it had when the manifest's names are given
// IDs.
#include <cstdlib>
#include <string_view>

#include "tool/buildLock.h"
#include "tool/buildManifest.h"
#include "tool/cSource.h"

using namespace kestrune::tool;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const kestrune::detail::Outcome<Manifest> m = parseManifest(text, "m.csv");
    if (m) {
        if (m->languages.empty()) std::abort();
        for (const ManifestPrompt& p : m->prompts) {
            if (p.name.value.empty() || cIdentifier(p.name.value) != p.name.value ||
                p.name.line < 2 || p.name.column < 1) {
                std::abort();
            }
        }
    } else if (!m.failure().reason.starts_with("m.csv:")) {
        std::abort();
    }
    const auto read = parseLock(text, "p.lock");
    if (!read) return 0;
    const PromptLock& lock = *read;
    const auto again = parseLock(lockText(lock, "p.csv"), "p.lock");
    if (!again || !(*again == lock)) std::abort();
    std::vector<std::string> names;
    if (m) {
        for (const ManifestPrompt& p : m->prompts) names.push_back(p.name.value);
    }
    const auto ids = assignIds(lock, names);
    if (!ids) return 0;
    const PromptLock& assigned = *ids;
    for (std::size_t i = 0; i < lock.entries.size(); ++i) {
        if (assigned.entries[i].id != lock.entries[i].id ||
            assigned.entries[i].name != lock.entries[i].name) {
            std::abort();
        }
    }
    return 0;
}
