// Encoding a build's prompts, and with a flash budget, choosing each prompt's rate and code
// width so that every language's image fits and the set sounds as good as it can.
//
// How good a choice sounds is measured against the best each recording deserves: the
// default rate for its source (the highest device rate it fills) at 4 bits. At rate r the
// device plays the source low-passed to r/2 plus the codec's error, so the error against
// the deserved sound is the codec's error (from its SNR at r) plus the power of the band
// that r drops (the source's power at the deserved rate less that at r). A choice's loss
// is how many dB its SNR against the deserved sound lies under the deserved choice's.
//
// The plan first makes the worst loss of any prompt as small as it can be (no prompt is
// left sounding much worse than the rest to spare bytes for others), then spends what is
// left of the budget where it lowers the total loss most per byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/buildSet.h"

namespace kestrune::tool {

// "65536", "64KiB", "1.5 MiB": a size in bytes. False when it is not one, or is 0.
bool parseSize(const std::string& text, uint64_t* bytes);

// A prompt's choices: device-file bytes and loss (dB), cheapest first.
struct BudgetChoice {
    uint64_t bytes = 0;
    double lossDb = 0;
    std::size_t candidate = 0;  // the caller's index of what it stands for
};

// The plan within `capacity` bytes, each prompt's bytes rounded up to `align`: per prompt
// the index into its choices. Empty when no plan fits; *smallest is then the least the
// prompts take.
std::vector<std::size_t> planBudget(const std::vector<std::vector<BudgetChoice>>& prompts,
                                    uint64_t capacity, unsigned align, uint64_t* smallest);

// Encodes every item (through the cache), or, with a budget, the candidates of each and
// then the plan's. The keys of the cache entries the outputs came from go to *used. False,
// told, on a failure or a budget no plan meets.
bool encodeSet(const BuildArgs& a, struct BuildSetup* s, uint64_t budget,
               std::vector<uint64_t>* used);

}  // namespace kestrune::tool
