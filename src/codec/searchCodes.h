// What the search encoder's parts (the paths' bookkeeping in search.cpp, the per-sample
// step in searchStep.cpp, its lookahead in searchLookahead.cpp) share: the codes of a
// variant in rank order.
#pragma once

#include <cstdint>

#include "codec/adpcm.h"

namespace search_detail {

template <uint8_t Variant>
struct Codes {
    static constexpr int kWidth = length[Variant];
    static constexpr int kMagnitudes = 1 << (kWidth - 1);
    static constexpr int kCodes = 2 * kMagnitudes;
    static constexpr int kPerByte = count[Variant];
    static constexpr uint8_t kSign = sign_bit[Variant];

    // Codes in the order of the estimates they lead to, lowest first: the negative
    // magnitudes from the largest down, then the positive ones from the smallest up.
    static constexpr uint8_t codeAt(int rank) {
        return static_cast<uint8_t>(rank < kMagnitudes ? kSign | (kMagnitudes - 1 - rank)
                                                       : rank - kMagnitudes);
    }
    static constexpr int magnitudeAt(int rank) {
        return rank < kMagnitudes ? kMagnitudes - 1 - rank : rank - kMagnitudes;
    }
    static constexpr int rankOf(uint8_t code) {
        const int magnitude = code & (kMagnitudes - 1);
        return (code & kSign) ? kMagnitudes - 1 - magnitude : kMagnitudes + magnitude;
    }
};

}  // namespace search_detail
