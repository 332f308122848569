#include "tool/buildLock.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>

#include "tool/listFile.h"
#include "tool/paths.h"

namespace kestrune::tool {

detail::Outcome<PromptLock> parseLock(std::string_view text, const std::string& path) {
    PromptLock lock;
    std::set<std::string> names;
    std::size_t lineNumber = 0;
    for (std::size_t at = 0; at < text.size(); ++lineNumber) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::vector<std::string> line = listEntries(text.substr(at, end - at));
        at = end + 1;
        if (line.empty()) continue;
        const auto fail = [&](const std::string& why) {
            return detail::Failure{kStatusFormat,
                                   path + ":" + std::to_string(lineNumber + 1) + ": " + why};
        };
        std::vector<std::string> words;
        for (std::size_t i = 0, j = 0; i < line[0].size(); i = j) {
            i = line[0].find_first_not_of(" \t", i);
            j = std::min(line[0].find_first_of(" \t", i), line[0].size());
            words.push_back(line[0].substr(i, j - i));
        }
        LockEntry e;
        const auto [p, ec] =
            std::from_chars(words[0].data(), words[0].data() + words[0].size(), e.id);
        const bool number = ec == std::errc{} && p == words[0].data() + words[0].size() &&
                            std::isdigit(static_cast<unsigned char>(words[0][0])) != 0;
        if (!number || words.size() < 2 || words.size() > 3 ||
            (words.size() == 3 && words[2] != "retired")) {
            return fail("not 'ID NAME' or 'ID NAME retired'");
        }
        if (e.id > kMaxPromptId)
            return fail("ID " + words[0] + " is over " + std::to_string(kMaxPromptId));
        if (!lock.entries.empty() && e.id <= lock.entries.back().id) {
            return fail("ID " + words[0] + " is not above the one before");
        }
        e.name = words[1];
        e.retired = words.size() == 3;
        if (!names.insert(e.name).second) return fail("'" + e.name + "' has an ID already");
        lock.entries.push_back(std::move(e));
    }
    return lock;
}

std::string lockText(const PromptLock& lock, const std::string& manifestName) {
    std::string text = "# The IDs of the prompts in " + manifestName +
                       ", kept by kestrune-adpcm build. Commit this file.\n"
                       "# An ID is never given to another prompt: a removed prompt's is retired.\n";
    for (const LockEntry& e : lock.entries) {
        text += std::to_string(e.id) + " " + e.name + (e.retired ? " retired" : "") + "\n";
    }
    return text;
}

detail::Outcome<PromptLock> assignIds(const PromptLock& old,
                                      const std::vector<std::string>& names) {
    PromptLock lock = old;
    std::set<std::string> wanted(names.begin(), names.end());
    for (LockEntry& e : lock.entries) e.retired = !wanted.contains(e.name);
    for (const std::string& name : names) {
        const auto known = std::find_if(lock.entries.begin(), lock.entries.end(),
                                        [&](const LockEntry& e) { return e.name == name; });
        if (known != lock.entries.end()) continue;
        const uint32_t id = lock.count();
        if (id > kMaxPromptId) {
            return detail::Failure{
                kStatusFormat,
                "no ID is left for '" + name + "': IDs go up to " + std::to_string(kMaxPromptId)};
        }
        lock.entries.push_back({id, name, false});
    }
    return lock;
}

uint64_t fnv1a64(std::string_view bytes, uint64_t hash) {
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3u;
    }
    return hash;
}

uint32_t idTableHash(const PromptLock& lock) {
    std::string table;
    for (const LockEntry& e : lock.entries) {
        if (!e.retired) table += std::to_string(e.id) + " " + e.name + "\n";
    }
    table += "count " + std::to_string(lock.count()) + "\n";
    const uint64_t h = fnv1a64(table);
    return static_cast<uint32_t>(h ^ (h >> 32));
}

}  // namespace kestrune::tool
