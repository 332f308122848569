// The search's work per sample: every path extended by the codes near the sample, merged,
// and the best kept (see search.h).
#include <algorithm>
#include <bit>
#include <cstdlib>

#include "codec/search.h"
#include "codec/searchCodes.h"
#include "codec/searchLookahead.h"
#include "codec/stepStates.h"

using search_detail::beyondReach;
using search_detail::Codes;
using search_detail::kLookaheadNodes;
using search_detail::kMoves;
using search_detail::lookahead;
using search_detail::Moves;

namespace {

// Costs live beside a 16-bit candidate number in one 64-bit sort key; a path this far
// behind the best is lost anyway.
constexpr uint64_t kCostCap = (uint64_t{1} << 47) - 1;

// Up to this many candidates, the beam's threshold is found by counting.
constexpr std::size_t kCountingLimit = 64;

// A merge key no candidate's state has (pointers stop at 90).
constexpr uint32_t kApart = uint32_t{127} << 17;

// The beam-th smallest of n distinct keys: the one with beam - 1 below it. Counting is
// cheaper than a selection for a few dozen keys; with AVX2 four keys are compared at once.
// Every version gives the same answer.
__attribute__((target_clones("avx2", "default"))) uint64_t countedThreshold(const uint64_t* keys,
                                                                            std::size_t n,
                                                                            std::size_t beam) {
    for (std::size_t u = 0; u < n; ++u) {
        std::size_t below = 0;
        for (std::size_t v = 0; v < n; ++v) below += keys[v] < keys[u];
        if (below == beam - 1) return keys[u];  // one such key; found halfway on average
    }
    return UINT64_MAX;
}

}  // namespace

// Candidates: each path extended by the codes around the reference quantiser's choice;
// returns how many, and which the reference's path became.
template <uint8_t Variant, bool Weighted>
[[gnu::always_inline]] inline std::size_t SearchEncoder::extend(int32_t sample,
                                                                std::size_t& referenceChild) {
    using C = Codes<Variant>;
    const Moves<Variant>& moves = kMoves<Variant>;
    const int window = level_.window;
    const int span = std::min(2 * window + 1, C::kCodes);  // codes around the reference's
    const int tried = span + (level_.extremes ? 2 : 0);    // codes tried per path
    // Raw pointers, so that stores of bytes need not reload the vectors' buffers.
    const int32_t* const estimates = estimate_.data();
    const uint8_t* const pointers = pointer_.data();
    const uint64_t* const costs = cost_.data();
    int32_t* const candEstimate = candEstimate_.data();
    uint8_t* const candPointer = candPointer_.data();
    uint64_t* const candKey = candKey_.data();
    uint16_t* const candParent = candParent_.data();
    uint8_t* const candCode = candCode_.data();
    const int32_t ceiling = ceiling_;

    std::size_t n = 0;
    referenceChild = SIZE_MAX;
    for (std::size_t i = 0; i < survivors_; ++i) {
        const int32_t estimate = estimates[i];
        const uint8_t pointer = pointers[i];
        const uint64_t cost = costs[i];
        // What the candidates' playback is measured against: the sample, or with weighting
        // the sample and the path's filter feedback, ew = e + feedback.
        int64_t target = sample;
        if constexpr (Weighted) {
            const int32_t feedback =
                roundFeedback(turned_[static_cast<std::size_t>(position_)].feedback(memory_[i]));
            feedback_[i] = feedback;
            target += feedback;
        }
        StreamState<Variant> reference{estimate, &kStepStates<Variant>[pointer]};
        const int chosen = C::rankOf(encodeSample<Variant>(reference, sample));
        const int lo = std::clamp(chosen - window, 0, C::kCodes - span);
        if (static_cast<int>(i) == reference_) {
            referenceChild = n + static_cast<std::size_t>(chosen - lo);
        }
        for (int slot = 0; slot < tried; ++slot, ++n) {
            // The extremes after the window; where the window holds them, a repeat that
            // merges into its twin.
            const int rank = slot < span ? lo + slot : (slot - span) * (C::kCodes - 1);
            const int32_t next = std::clamp(estimate + moves.move[pointer][rank], -32768, 32767);
            const int64_t error = target - next;
            const uint64_t past = next > ceiling || next < -ceiling;
            const uint64_t total =
                cost + static_cast<uint64_t>(error * error) + (kPastCeiling & (0 - past));
            candEstimate[n] = next;
            candPointer[n] = moves.next[pointer][rank];
            candKey[n] = std::min(total, kCostCap) << 16 | n;
            candParent[n] = static_cast<uint16_t>(i);
            candCode[n] = C::codeAt(rank);
        }
    }
    return n;
}

// The candidates left after merging, in unique_ (the reference's path not among them);
// returns how many.
template <uint8_t Variant>
[[gnu::always_inline]] inline std::size_t SearchEncoder::merge(std::size_t n,
                                                               std::size_t referenceChild) {
    using C = Codes<Variant>;
    const int span = std::min(2 * level_.window + 1, C::kCodes);
    const int tried = span + (level_.extremes ? 2 : 0);
    int32_t* const candEstimate = candEstimate_.data();
    uint8_t* const candPointer = candPointer_.data();
    uint64_t* const candKey = candKey_.data();
    uint32_t* const unique = unique_.data();
    Slot* const table = table_.data();
    const int tableShift = tableShift_;

    // Merge candidates that reach nearly the same state into the better one: a table
    // entry holds the best candidate of its state so far. The reference's own path has
    // a state of its own. When two states meet in one entry (rarely, with the table four
    // times the candidates), the later one takes it and the earlier one is set aside.
    if (++stamp_ == 0) {
        std::fill(table_.begin(), table_.end(), Slot{0, 0});
        stamp_ = 1;
    }
    const uint64_t stamp = uint64_t{stamp_} << 32;
    std::size_t alive = 0;
    std::size_t lost = 0;
    uint32_t* const evicted = evicted_.data();
    // Siblings often share a state, so they are visited a path apart: an entry is not
    // read while its last write is still in flight.
    for (int sibling = 0; sibling < tried; ++sibling) {
        for (std::size_t k = static_cast<std::size_t>(sibling); k < n;
             k += static_cast<std::size_t>(tried)) {
            const uint8_t pointer = candPointer[k];
            const uint32_t bucket =
                static_cast<uint32_t>(candEstimate[k] + 32768) >> bucketShift_[pointer];
            const uint32_t key = k == referenceChild ? kApart : (uint32_t{pointer} << 17) | bucket;
            const uint32_t at = (key * 0x9E3779B1u) >> tableShift;
            Slot& slot = table[at];
            const bool fresh = (slot.tag & ~uint64_t{0xFFFFFFFF}) != stamp;
            const bool same = slot.tag == (stamp | key);
            const uint32_t held = slot.candidate;  // some candidate's number, even when stale
            // Bitwise, so that no branch hangs on which of the two is better.
            const uint32_t keepHeld =
                static_cast<uint32_t>(same) & static_cast<uint32_t>(candKey[held] < candKey[k]);
            unique[alive] = at;
            alive += fresh;
            evicted[lost] = held;
            lost += !fresh & !same;
            slot.tag = stamp | key;
            slot.candidate =
                static_cast<uint32_t>(k) ^ ((held ^ static_cast<uint32_t>(k)) & (0u - keepHeld));
        }
    }
    // From entries to their candidates; the reference's path is kept whatever it costs.
    std::size_t others = 0;
    for (std::size_t u = 0; u < alive; ++u) {
        const uint32_t k = table[unique[u]].candidate;
        unique[others] = k;
        others += k != referenceChild;
    }
    for (std::size_t u = 0; u < lost; ++u) {
        unique[others] = evicted[u];
        others += evicted[u] != referenceChild;
    }
    return others;
}

// The candidates left ranked, in candRank_, and their lookahead's error, in candAhead_.
template <uint8_t Variant>
[[gnu::always_inline]] inline void SearchEncoder::rankAhead(const int16_t* future,
                                                            std::size_t available,
                                                            std::size_t alive,
                                                            std::size_t referenceChild) {
    const std::size_t beam = level_.beam;
    int32_t* const candEstimate = candEstimate_.data();
    uint8_t* const candPointer = candPointer_.data();
    uint64_t* const candKey = candKey_.data();
    uint32_t* const unique = unique_.data();

    // Ranked by their cost and their lookahead's: the reference's exactly, the others
    // against the beam's worst so far, which a path out of the beam need not reach.
    uint64_t* const rank = candRank_.data();
    uint64_t* const ahead = candAhead_.data();
    // Near the end, the lookahead's own samples before its tail's.
    const int known =
        static_cast<int>(std::min<std::size_t>(std::size_t{level_.depth} + level_.tail, available));
    const int depth = std::min<int>(level_.depth, known);
    const int tail = known - depth;
    if (depth > 0) {
        const auto look = [&](uint32_t k, uint64_t bound) {
            int budget = kLookaheadNodes;
            const uint64_t cost = candKey[k] >> 16;
            if (cost + beyondReach<Variant>(candEstimate[k], candPointer[k], future, depth) >=
                bound) {
                ahead[k] = kCostCap;
            } else {
                // What reaches the bound is out of the beam, and ranked so, since the
                // lookahead stopped short of its error.
                const uint64_t found = lookahead<Variant>(candEstimate[k], candPointer[k], future,
                                                          depth, tail, bound - cost, budget);
                ahead[k] = found < bound - cost ? found : kCostCap;
            }
            rank[k] = std::min(cost + ahead[k], kCostCap) << 16 | k;
        };
        if (referenceChild != SIZE_MAX) look(static_cast<uint32_t>(referenceChild), kCostCap);
        // The cheapest first, so that the beam's bound tightens early, when the bound saves
        // more than a sort costs.
        if (alive > beam && depth > 1) {
            std::sort(unique, unique + alive,
                      [candKey](uint32_t a, uint32_t b) { return candKey[a] < candKey[b]; });
        }
        uint64_t* const best = bestRanks_.data();
        std::size_t ranked = 0;
        for (std::size_t u = 0; u < alive; ++u) {
            const uint32_t k = unique[u];
            look(k, ranked < beam ? kCostCap : best[beam - 1] >> 16);
            if (ranked == beam && rank[k] >= best[beam - 1]) continue;
            // Into the sorted list of the best ranks.
            std::size_t at = std::min(ranked, beam - 1);
            for (; at > 0 && best[at - 1] > rank[k]; --at) best[at] = best[at - 1];
            best[at] = rank[k];
            ranked += ranked < beam;
        }
    } else {
        for (std::size_t u = 0; u < alive; ++u) {
            rank[unique[u]] = candKey[unique[u]];
            ahead[unique[u]] = 0;
        }
        if (referenceChild != SIZE_MAX) ahead[referenceChild] = 0;
    }
}

// The survivors: the best `beam` candidates, in the order they were found, and the
// reference's path.
template <uint8_t Variant, bool Weighted>
[[gnu::always_inline]] inline void SearchEncoder::keep(int32_t sample, std::size_t alive,
                                                       std::size_t referenceChild) {
    using C = Codes<Variant>;
    const std::size_t beam = level_.beam;
    const uint64_t* const rank = candRank_.data();
    const uint64_t* const ahead = candAhead_.data();
    int32_t* const candEstimate = candEstimate_.data();
    uint8_t* const candPointer = candPointer_.data();
    uint64_t* const candKey = candKey_.data();
    uint16_t* const candParent = candParent_.data();
    uint8_t* const candCode = candCode_.data();
    uint32_t* const unique = unique_.data();

    uint64_t threshold = UINT64_MAX;
    if (alive > beam) {
        uint64_t* const select = select_.data();
        for (std::size_t u = 0; u < alive; ++u) select[u] = rank[unique[u]];
        if (alive <= kCountingLimit) {
            threshold = countedThreshold(select, alive, beam);
        } else {
            std::nth_element(select, select + beam - 1, select + alive);
            threshold = select[beam - 1];
        }
    }
    std::size_t kept = 0;
    for (std::size_t u = 0; u < alive; ++u) {
        const uint32_t k = unique[u];
        unique[kept] = k;
        kept += rank[k] <= threshold;
    }
    reference_ = -1;
    if (referenceChild != SIZE_MAX) {
        reference_ = static_cast<int>(kept);
        unique[kept++] = static_cast<uint32_t>(referenceChild);
    }
    for (std::size_t u = 0; u < kept; ++u) {
        const uint32_t k = unique[u];
        const uint16_t parent = candParent[k];
        next_.estimate[u] = candEstimate[k];
        next_.pointer[u] = candPointer[k];
        next_.cost[u] = candKey[k] >> 16;
        next_.atByte[u] = atByte_[parent];
        next_.history[u] = history_[parent] << C::kWidth | candCode[k];
        next_.ahead[u] = ahead[k];
    }
    if constexpr (Weighted) {
        // One group of lanes changes; choosing it here keeps the rest a plain copy.
        switch (position_ >> 2) {
            case 0:
                remember<0>(sample, kept);
                break;
            case 1:
                remember<1>(sample, kept);
                break;
            case 2:
                remember<2>(sample, kept);
                break;
            default:
                remember<3>(sample, kept);
                break;
        }
    }
    estimate_.swap(next_.estimate);
    pointer_.swap(next_.pointer);
    cost_.swap(next_.cost);
    atByte_.swap(next_.atByte);
    history_.swap(next_.history);
    ahead_.swap(next_.ahead);
    if constexpr (Weighted) memory_.swap(next_.memory);
    survivors_ = kept;
    ++pending_;
    if (++phase_ == C::kPerByte) {
        phase_ = 0;
        for (std::size_t i = 0; i < survivors_; ++i) atByte_[i] = cost_[i];
    }
}

// One sample: the paths extended, merged, ranked and the best kept.
template <uint8_t Variant, bool Weighted>
void SearchEncoder::step(int32_t sample, const int16_t* future, std::size_t available) {
    std::size_t referenceChild = SIZE_MAX;
    const std::size_t n = extend<Variant, Weighted>(sample, referenceChild);
    const std::size_t alive = merge<Variant>(n, referenceChild);
    rankAhead<Variant>(future, available, alive, referenceChild);
    keep<Variant, Weighted>(sample, alive, referenceChild);
}

// Each survivor's weighting memory: its parent's, with this sample's error and weighted
// error at the ring's position, in lane group Group.
template <int Group>
void SearchEncoder::remember(int32_t sample, std::size_t kept) {
    const int slot = position_ & 3;
    for (std::size_t u = 0; u < kept; ++u) {
        const uint32_t k = unique_[u];
        const uint16_t parent = candParent_[k];
        const int32_t error = sample - candEstimate_[k];
        next_.memory[u] = memory_[parent].with<Group>(
            slot, static_cast<float>(error), static_cast<float>(error + feedback_[parent]));
    }
}

template void SearchEncoder::step<kVariant4Bit, false>(int32_t, const int16_t*, std::size_t);
template void SearchEncoder::step<kVariant4Bit, true>(int32_t, const int16_t*, std::size_t);
template void SearchEncoder::step<kVariant2Bit, false>(int32_t, const int16_t*, std::size_t);
template void SearchEncoder::step<kVariant2Bit, true>(int32_t, const int16_t*, std::size_t);
