// What the search's step and its lookahead share: how each code moves a state, how far
// the estimate can reach in a few codes, and the lookahead that scores a state's future.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>

#include "codec/searchCodes.h"
#include "codec/stepStates.h"

namespace search_detail {

// For each pointer and code, in the codes' rank order: how far the estimate moves (signed),
// and the next pointer.
template <uint8_t Variant>
struct Moves {
    std::array<std::array<int32_t, Codes<Variant>::kCodes>, kStepRows> move;
    std::array<std::array<uint8_t, Codes<Variant>::kCodes>, kStepRows> next;
};

template <uint8_t Variant>
constexpr Moves<Variant> makeMoves() {
    using C = Codes<Variant>;
    Moves<Variant> t{};
    for (std::size_t p = 0; p < kStepRows; ++p) {
        for (int rank = 0; rank < C::kCodes; ++rank) {
            const auto magnitude = static_cast<uint8_t>(C::magnitudeAt(rank));
            const int32_t move = reconstructionOffset(Variant, deltrom[p][Variant], magnitude);
            t.move[p][rank] = rank < C::kMagnitudes ? -move : move;
            t.next[p][rank] =
                static_cast<uint8_t>(nextPointer(Variant, static_cast<int16_t>(p), magnitude));
        }
    }
    return t;
}

template <uint8_t Variant>
inline constexpr Moves<Variant> kMoves = makeMoves<Variant>();

// The most samples ahead that a reach is known for: the deepest lookahead and its tail.
inline constexpr int kReachSamples = 32;

// How far the estimate can move in k + 1 codes from each pointer, k = 0 ... 31: the largest
// code every time, which both moves furthest and raises the step most.
template <uint8_t Variant>
constexpr auto makeReach() {
    using C = Codes<Variant>;
    std::array<std::array<int32_t, kReachSamples>, kStepRows> reach{};
    for (std::size_t p = 0; p < kStepRows; ++p) {
        std::size_t at = p;
        int32_t total = 0;
        for (std::size_t k = 0; k < kReachSamples; ++k) {
            total += kMoves<Variant>.move[at][C::kCodes - 1];
            reach[p][k] = total;
            at = kMoves<Variant>.next[at][C::kCodes - 1];
        }
    }
    return reach;
}

template <uint8_t Variant>
inline constexpr auto kReach = makeReach<Variant>();

// A floor under the error the next n samples can be played with from this state: each is
// played at least as far from it as lies beyond the reach of the codes up to it.
template <uint8_t Variant>
inline uint64_t beyondReach(int32_t estimate, uint8_t pointer, const int16_t* future, int n) {
    uint64_t least = 0;
    for (int k = 0; k < n; ++k) {
        const int64_t gap = std::max<int64_t>(
            std::abs(future[k] - estimate) - kReach<Variant>[pointer][static_cast<std::size_t>(k)],
            0);
        least += static_cast<uint64_t>(gap * gap);
    }
    return least;
}

// Nodes one path's lookahead may visit before it tries only the nearest code, so that every
// sample's work is bounded.
inline constexpr int kLookaheadNodes = 256;

// The least squared error with which the next `depth` samples (1 ... 8) can be played from
// this state, each way of playing them with the floor its last state leaves under the
// `tail` samples after them added (depth + tail up to kReachSamples), or `bound` or more
// when no sequence of codes plays them with less; `budget` counts the nodes visited down
// (see searchLookahead.cpp).
template <uint8_t Variant>
uint64_t lookahead(int32_t estimate, uint8_t pointer, const int16_t* future, int depth, int tail,
                   uint64_t bound, int& budget);

}  // namespace search_detail
