// Step states for the block coders, derived at compile time from the step and
// pointer-adjustment tables; the pointer moves through nextPointer, as in enc and dec,
// and a compile-time check holds every move to reconstructionOffset.
//
// A sample's work is one serial chain: the next estimate and the next pointer both hang
// on this sample's code. The tables keep that chain short. A step state holds the step
// at one pointer already halved for every magnitude bit, and the successor table holds,
// for each pointer and code magnitude, the whole step state that follows, so moving to
// the next pointer costs one table read. The quantiser runs its bit-by-bit search
// without branches, and the estimate is rebuilt from what the search left over.
#pragma once

#include <array>
#include <cstdint>

#include "codec/adpcm.h"

template <uint8_t Variant>
struct alignas(length[Variant] == 4 ? 32 : 16) StepState {
    static constexpr int kBits = length[Variant] - 1;  // magnitude bits per code
    static constexpr int kMagnitudes = 1 << kBits;

    // The step at this pointer after 0, 1, ... kBits halvings: step[k] is weighed by the
    // k-th magnitude bit from the top, step[kBits] is added to every move.
    std::array<int32_t, kBits + 1> step;
    int32_t successors;  // this pointer's first entry in the successor table
    int32_t pointer;
};

template <uint8_t Variant>
constexpr StepState<Variant> stepStateAt(int pointer) {
    StepState<Variant> s{};
    int32_t step = deltrom[pointer][Variant];
    for (int32_t& k : s.step) {
        k = step;
        step /= 2;
    }
    s.successors = pointer * StepState<Variant>::kMagnitudes;
    s.pointer = pointer;
    return s;
}

// The step state at every pointer.
template <uint8_t Variant>
constexpr std::array<StepState<Variant>, kStepRows> makeStepStates() {
    std::array<StepState<Variant>, kStepRows> states{};
    for (std::size_t p = 0; p < states.size(); ++p) {
        states[p] = stepStateAt<Variant>(static_cast<int>(p));
    }
    return states;
}

// The step state after a code of magnitude m at pointer p, at [p * kMagnitudes + m].
template <uint8_t Variant>
constexpr auto makeSuccessors() {
    constexpr int kMagnitudes = StepState<Variant>::kMagnitudes;
    std::array<StepState<Variant>, kStepRows * kMagnitudes> next{};
    for (std::size_t p = 0; p < kStepRows; ++p) {
        for (int m = 0; m < kMagnitudes; ++m) {
            const int16_t to =
                nextPointer(Variant, static_cast<int16_t>(p), static_cast<uint8_t>(m));
            next[p * kMagnitudes + static_cast<std::size_t>(m)] = stepStateAt<Variant>(to);
        }
    }
    return next;
}

template <uint8_t Variant>
inline constexpr auto kStepStates = makeStepStates<Variant>();
template <uint8_t Variant>
inline constexpr auto kSuccessors = makeSuccessors<Variant>();

// How far a code of this magnitude moves the estimate from this step state: the steps
// its magnitude bits select, plus the last one. Masked rather than branched on, since
// the decoder meets codes in no predictable order.
template <uint8_t Variant>
constexpr int32_t stepMove(const StepState<Variant>& at, uint8_t magnitude) {
    constexpr int kBits = StepState<Variant>::kBits;
    int32_t move = at.step[kBits];
    for (int k = 0; k < kBits; ++k) {
        const int32_t bit = (magnitude >> (kBits - 1 - k)) & 1;
        move += at.step[k] & -bit;
    }
    return move;
}

// Every step state's moves equal the reconstruction enc and dec apply.
template <uint8_t Variant>
constexpr bool movesMatchReconstruction() {
    for (const StepState<Variant>& s : kStepStates<Variant>) {
        for (int m = 0; m < StepState<Variant>::kMagnitudes; ++m) {
            const auto magnitude = static_cast<uint8_t>(m);
            const int32_t step = deltrom[s.pointer][Variant];
            if (stepMove(s, magnitude) != reconstructionOffset(Variant, step, magnitude)) {
                return false;
            }
        }
    }
    return true;
}
static_assert(movesMatchReconstruction<kVariant4Bit>());
static_assert(movesMatchReconstruction<kVariant2Bit>());

// Running state of one stream inside a block coder loop.
template <uint8_t Variant>
struct StreamState {
    int32_t estimate;
    const StepState<Variant>* at;  // step state at the current pointer
};

template <uint8_t Variant>
inline StreamState<Variant> streamStart(int32_t estimate, int16_t pointer) {
    return {estimate, &kStepStates<Variant>[static_cast<std::size_t>(pointer)]};
}

// Quantises one sample, advances the state and returns the code; identical to enc.
template <uint8_t Variant>
inline uint8_t encodeSample(StreamState<Variant>& s, int32_t sample) {
    constexpr int kBits = StepState<Variant>::kBits;
    const StepState<Variant>& at = *s.at;
    const int32_t diff = sample - s.estimate;
    const int32_t below = diff >> 31;  // -1 when the sample lies below the estimate
    // |diff|, less one when below: there a remainder equal to the step leaves the bit
    // clear. The search only compares and subtracts, so the offset carries through.
    int32_t remaining = diff ^ below;
    int magnitude = 0;
    for (int k = 0; k < kBits; ++k) {
        const int32_t rest = remaining - at.step[k];
        const bool take = rest >= 0;
        remaining = take ? rest : remaining;
        magnitude = magnitude * 2 + take;
    }
    // The estimate moves by the steps taken plus the last one, which lands it on the
    // sample, short by what the search left over, then on by the last step:
    //   above: sample + (last - remaining)
    //   below: sample - (last - (remaining + 1)) = sample + 2 + ~(last - remaining)
    // Both are one sign flip by `below` of the same value, with no table read.
    const int32_t beyond = at.step[kBits] - remaining;
    s.estimate = PcmLimit(Variant, (sample - 2 * below) + (beyond ^ below));
    s.at = &kSuccessors<Variant>[static_cast<std::size_t>(at.successors + magnitude)];
    return static_cast<uint8_t>(magnitude | (below & sign_bit[Variant]));
}

// Applies one code to the state and returns the reconstructed sample; identical to dec.
template <uint8_t Variant>
inline int16_t decodeCode(StreamState<Variant>& s, uint8_t code) {
    const StepState<Variant>& at = *s.at;
    const uint8_t magnitude = codeMagnitude(Variant, code);
    const int32_t move = stepMove(at, magnitude);
    const int32_t negative = -static_cast<int32_t>((code & sign_bit[Variant]) != 0);
    s.estimate = PcmLimit(Variant, s.estimate + ((move ^ negative) - negative));
    s.at = &kSuccessors<Variant>[static_cast<std::size_t>(at.successors + magnitude)];
    return static_cast<int16_t>(repcmconv(Variant, s.estimate));
}
