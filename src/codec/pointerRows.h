// Per-pointer tables for the block coders, derived at compile time from the step and
// pointer-adjustment tables through the same reconstruction helpers that enc and dec use.
//
// At one step pointer the quantiser's choice of magnitude is the number of decision
// thresholds the remainder reaches (the reconstruction offsets grow strictly with the
// magnitude, so the bit-by-bit search settles on exactly that count), and each code's
// move of the estimate and next pointer are fixed. One row holds all of that, so a sample
// costs a few compares and two table reads, without branches.
#pragma once

#include <array>
#include <cstdint>

#include "codec/adpcm.h"

template <uint8_t Variant>
struct PointerRow {
    static constexpr int kMagnitudes = 1 << (length[Variant] - 1);
    static constexpr int kCodes = 2 * kMagnitudes;

    // Magnitude m needs a remainder of at least threshold[m - 1].
    std::array<int32_t, kMagnitudes - 1> threshold;
    // Signed move of the estimate, by code.
    std::array<int32_t, kCodes> move;
    // Next pointer, by code.
    std::array<uint8_t, kCodes> next;
};

template <uint8_t Variant>
constexpr std::array<PointerRow<Variant>, kStepRows> makePointerRows() {
    using Row = PointerRow<Variant>;
    std::array<Row, kStepRows> rows{};
    for (std::size_t p = 0; p < rows.size(); ++p) {
        const int32_t step = deltrom[p][Variant];
        const int32_t last = reconstructionOffset(Variant, step, 0);
        Row& row = rows[p];
        for (int m = 0; m < Row::kMagnitudes; ++m) {
            const auto mag = static_cast<uint8_t>(m);
            const int32_t offset = reconstructionOffset(Variant, step, mag);
            if (m > 0) row.threshold[m - 1] = offset - last;
            const auto next =
                static_cast<uint8_t>(nextPointer(Variant, static_cast<int16_t>(p), mag));
            row.move[m] = offset;
            row.move[m | sign_bit[Variant]] = -offset;
            row.next[m] = next;
            row.next[m | sign_bit[Variant]] = next;
        }
    }
    return rows;
}

template <uint8_t Variant>
inline constexpr std::array<PointerRow<Variant>, kStepRows> kPointerRows =
    makePointerRows<Variant>();

// Running state of one stream inside a block coder loop.
struct StreamState {
    int32_t estimate;
    int32_t pointer;
};

// Quantises one sample, advances the state and returns the code; identical to enc.
template <uint8_t Variant>
inline uint8_t encodeSample(StreamState& s, int32_t sample) {
    const PointerRow<Variant>& row = kPointerRows<Variant>[static_cast<std::size_t>(s.pointer)];
    const int32_t diff = sample - s.estimate;
    const int32_t below = diff >> 31;  // -1 when the sample lies below the estimate
    // |diff|, less one when below: there a remainder equal to a threshold stays under it.
    const int32_t remaining = diff ^ below;
    int magnitude = 0;
    for (const int32_t t : row.threshold) magnitude += remaining >= t;
    const auto code = static_cast<uint8_t>(magnitude | (below & sign_bit[Variant]));
    s.estimate = PcmLimit(Variant, s.estimate + row.move[code]);
    s.pointer = row.next[code];
    return code;
}

// Applies one code to the state and returns the reconstructed sample; identical to dec.
template <uint8_t Variant>
inline int16_t decodeCode(StreamState& s, uint8_t code) {
    const PointerRow<Variant>& row = kPointerRows<Variant>[static_cast<std::size_t>(s.pointer)];
    s.estimate = PcmLimit(Variant, s.estimate + row.move[code]);
    s.pointer = row.next[code];
    return static_cast<int16_t>(repcmconv(Variant, s.estimate));
}
