// kestrune-adpcm build: a prompt set from one manifest into, per language, an image and
// its JSON manifest, and one C header of IDs that every language shares. What the pieces
// of the command share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/buildLock.h"
#include "tool/buildManifest.h"
#include "tool/jobs.h"
#include "tool/report.h"

namespace kestrune::tool {

struct BuildArgs {
    std::string manifest, folder, speech, budget, report;
    std::vector<std::string> speechWords;  // the speech command, split
    bool check = false, release = false, noPlaceholders = false, quiet = false;
    unsigned jobs = 1, align = 4;
};

// One prompt in one language, as it is built.
struct BuildItem {
    std::string name, lang;
    uint32_t id = 0;
    std::string recording;    // the recording's path, or empty for a placeholder
    std::string text;         // what the prompt says
    ManifestCell where;       // its cell, for messages
    EncodeSettings settings;  // the set's, with the prompt's own columns
    bool pinnedRate = false, pinnedBits = false;  // given by the prompt's columns
    uint64_t sourceKey = 0;                       // what its sound is made from, hashed
    uint64_t key = 0;                             // and how it is encoded: what --check compares
    std::vector<uint8_t> device;                  // the device file chosen
    Json result;                                  // encode's keys for it
    double lossDb = 0;                            // against the best it could sound (with a budget)
    bool measurePower = false;  // record the source's power, which a budget's plan needs
    bool placeholder() const { return recording.empty(); }
    std::string shown() const { return lang + "/" + name; }
};

// One language's prompts in ID order (retired IDs have none).
struct BuildLanguage {
    std::string lang;
    std::vector<BuildItem*> byId;  // count() entries; null for a retired ID
};

// The cache of encodings in OUT/.kestrune-cache: a device file and its encode results per
// content key, so that a prompt whose sound, text and options are unchanged is not encoded
// again.
std::string cacheFolder(const BuildArgs& a);
uint64_t encodingKey(const BuildItem& item);
std::string keyText(uint64_t key);
bool cacheGet(const BuildArgs& a, uint64_t key, std::vector<uint8_t>* device, Json* result);
bool cachePut(const BuildArgs& a, uint64_t key, const std::vector<uint8_t>& device,
              const Json& result);
// Removes the cache's entries not among `used`.
void cacheKeep(const BuildArgs& a, const std::vector<uint64_t>& used);

// The mean power of the source as encoding at settings.rate prepares it (levelled and
// trimmed), in squared 16-bit units; 0 when it cannot be read.
double sourcePower(const EncodeSettings& settings, const std::string& path);

// Encodes an item as its settings say (a placeholder spoken first), through the cache.
// False, told, on a failure.
FileResult encodeItem(const BuildArgs& a, BuildItem* item, Progress* progress, bool* cached);

// A listening report of every item at a.report, each placeholder flagged by a warning.
// False, told, when it cannot be written.
bool writeBuildReport(const BuildArgs& a, const std::vector<BuildItem>& items);

// The outputs: a language's image (empty device files for retired IDs, the ID table's hash
// after the index), its JSON manifest, the C header of IDs. The image fails as planImage
// does.
detail::Outcome<std::vector<uint8_t>> buildImage(const BuildLanguage& l, unsigned align,
                                                 uint32_t hash);
std::string buildJson(const BuildLanguage& l, const std::string& image, unsigned align,
                      uint32_t hash);
std::string buildHeader(const PromptLock& lock, const std::vector<BuildLanguage>& languages,
                        uint32_t hash);

}  // namespace kestrune::tool
