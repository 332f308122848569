// The lock file beside a prompt manifest (prompts.lock), which gives each prompt its
// numeric ID for good: a new prompt takes the next free ID, a removed prompt's ID is
// retired and never given to another, and reordering the manifest changes nothing. One
// line per ID, in ID order, so that a change shows as a one-line diff:
//
//   # comments and blank lines are skipped
//   0 hello
//   1 goodbye retired
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/failure.h"

namespace kestrune::tool {

struct LockEntry {
    uint32_t id = 0;
    std::string name;
    bool retired = false;
    bool operator==(const LockEntry&) const = default;
};

// The entries in ID order; IDs without an entry (a line deleted by hand) stay unused.
struct PromptLock {
    std::vector<LockEntry> entries;
    uint32_t count() const { return entries.empty() ? 0 : entries.back().id + 1; }
    bool operator==(const PromptLock&) const = default;
};

// IDs go up to this; an image's index holds one entry per ID.
inline constexpr uint32_t kMaxPromptId = 65535;

// Parses a lock file's text; `path` names it in messages. Fails (kStatusFormat, the reason
// "PATH:LINE: why") on a line that is not "ID NAME" or "ID NAME retired", an ID out of
// order, doubled or over kMaxPromptId, or a name given twice.
detail::Outcome<PromptLock> parseLock(std::string_view text, const std::string& path);

// The lock file's text, which parseLock reads back as it was.
std::string lockText(const PromptLock& lock, const std::string& manifestName);

// The IDs for the manifest's prompts (names in any order): each keeps its ID, a retired
// name that returns takes its own ID back, a new one the next ID never given, and a name
// the manifest no longer has is retired. Fails (kStatusFormat) when IDs run out.
detail::Outcome<PromptLock> assignIds(const PromptLock& old, const std::vector<std::string>& names);

// 64-bit FNV-1a, continued from `hash`: what tells contents apart for the build.
uint64_t fnv1a64(std::string_view bytes, uint64_t hash = 0xcbf29ce484222325u);

// The hash of the ID table that firmware compares between its header and an image: of
// each live prompt's ID and name, and the number of IDs.
uint32_t idTableHash(const PromptLock& lock);

}  // namespace kestrune::tool
