// A build's prompts, read from its manifest and lock file.
#pragma once

#include <string>
#include <vector>

#include "tool/buildSet.h"

namespace kestrune::tool {

struct BuildSetup {
    Manifest manifest;
    std::string lockPath, lockText;  // the lock file, and its text as it was (empty if none)
    PromptLock oldLock, lock;        // as it was, and with the manifest's prompts
    std::vector<BuildItem> items;    // every prompt in every language
    std::vector<BuildLanguage> languages;
};

// Reads the manifest and the lock file and makes the items, with the set's settings and
// each prompt's own columns. False, told, on a fault.
bool setUpBuild(const BuildArgs& a, const EncodeSettings& set, BuildSetup* s);

// Why the placeholders may not be built: with --no-placeholders, a missing recording; with
// --release, any placeholder. One line each, naming the manifest's cell.
std::vector<std::string> placeholderReasons(const BuildArgs& a, const BuildSetup& s);

}  // namespace kestrune::tool
