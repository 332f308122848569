// Adaptive-step ADPCM codec of the voice-playback device.
//
// Two code widths are supported, selected by a variant number that indexes every
// per-variant table: variant 0 (4-bit codes, method "4ADP2") and variant 13 (2-bit
// codes, method "2ADP2"). The codec works on buffers only; it does no I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kVariantCount = 16;
inline constexpr std::size_t kStepRows = 91;
inline constexpr std::size_t kAdjustRows = 128;

inline constexpr uint8_t kVariant4Bit = 0;
inline constexpr uint8_t kVariant2Bit = 13;

// Per-variant parameters; only the columns of variants 0 and 13 are populated.
// Code width in bits.
inline constexpr std::array<uint8_t, kVariantCount> length = {4, 0, 0, 0, 0, 0, 0, 0,
                                                              0, 0, 0, 0, 0, 2, 0, 0};
// Mask of a whole code.
inline constexpr std::array<uint8_t, kVariantCount> anddata = {0x0F, 0, 0, 0, 0, 0,    0, 0,
                                                               0,    0, 0, 0, 0, 0x03, 0, 0};
// Mask of the sign bit, the top bit of a code.
inline constexpr std::array<uint8_t, kVariantCount> sign_bit = {0x08, 0, 0, 0, 0, 0,    0, 0,
                                                                0,    0, 0, 0, 0, 0x02, 0, 0};
// Codes packed into one byte.
inline constexpr std::array<uint8_t, kVariantCount> count = {2, 0, 0, 0, 0, 0, 0, 0,
                                                             0, 0, 0, 0, 0, 4, 0, 0};

using StepRow = std::array<int32_t, kVariantCount>;
using AdjustRow = std::array<int16_t, kVariantCount>;

namespace adpcm_detail {
// floor(16 * 1.08^i) for i = 0 ... 90, computed exactly.
inline constexpr std::array<int32_t, kStepRows> kSteps = {
    16,   17,   18,   20,   21,   23,   25,    27,    29,    31,    34,    37,    40,
    43,   46,   50,   54,   59,   63,   69,    74,    80,    86,    93,    101,   109,
    118,  127,  138,  149,  161,  173,  187,   202,   219,   236,   255,   275,   298,
    321,  347,  375,  405,  437,  472,  510,   551,   595,   643,   694,   750,   810,
    875,  945,  1020, 1102, 1190, 1286, 1388,  1500,  1620,  1749,  1889,  2040,  2204,
    2380, 2570, 2776, 2998, 3238, 3497, 3777,  4079,  4406,  4758,  5139,  5550,  5994,
    6474, 6991, 7551, 8155, 8807, 9512, 10273, 11095, 11982, 12941, 13976, 15095, 16302};

// Pointer adjustment by code magnitude.
inline constexpr std::array<int16_t, 8> kAdjust4Bit = {-2, -2, -2, -2, 2, 6, 9, 11};
inline constexpr std::array<int16_t, 2> kAdjust2Bit = {-2, 3};

constexpr std::array<StepRow, kStepRows> makeSteps() {
    std::array<StepRow, kStepRows> t{};
    for (std::size_t i = 0; i < t.size(); ++i) {
        t[i][kVariant4Bit] = kSteps[i];
        t[i][kVariant2Bit] = kSteps[i];
    }
    return t;
}

constexpr std::array<AdjustRow, kAdjustRows> makeAdjust() {
    std::array<AdjustRow, kAdjustRows> t{};
    for (std::size_t i = 0; i < kAdjust4Bit.size(); ++i) t[i][kVariant4Bit] = kAdjust4Bit[i];
    for (std::size_t i = 0; i < kAdjust2Bit.size(); ++i) t[i][kVariant2Bit] = kAdjust2Bit[i];
    return t;
}
}  // namespace adpcm_detail

// Step table, rows of variant columns, indexed [pointer][variant].
inline constexpr std::array<StepRow, kStepRows> dromd = adpcm_detail::makeSteps();
// Pointer-adjustment table, indexed [code magnitude][variant].
inline constexpr std::array<AdjustRow, kAdjustRows> apromd = adpcm_detail::makeAdjust();

// The codec reads the tables through these.
inline constexpr const StepRow* deltrom = dromd.data();
inline constexpr const AdjustRow* aprom = apromd.data();

inline constexpr int16_t kPointerMax = static_cast<int16_t>(kStepRows - 1);

// Codec state of one stream.
struct AdpcmParam {
    int32_t pcm;       // in: sample to encode; out: reconstructed sample
    int16_t pointer;   // current row of the step table, 0 ... 90
    int8_t code;       // code of the latest sample
    int32_t estimate;  // running estimate, -32768 ... 32767
};

// Block coder modes.
inline constexpr uint8_t kModeReset = 0;
inline constexpr uint8_t kModeReadOut = 2;
inline constexpr uint8_t kModeCode = 4;

constexpr bool variantSupported(uint8_t variant) {
    return variant == kVariant4Bit || variant == kVariant2Bit;
}

constexpr int32_t PcmLimit(uint8_t /*variant*/, int32_t value) {
    return value < -32768 ? -32768 : (value > 32767 ? 32767 : value);
}

constexpr int16_t PointerLimit(uint8_t /*variant*/, int16_t value) {
    return value < 0 ? int16_t{0} : (value > kPointerMax ? kPointerMax : value);
}

// Scaling into and out of the codec's working range (identity for both variants).
constexpr int32_t pcmconv(uint8_t /*variant*/, int32_t value) {
    return value;
}
constexpr int32_t repcmconv(uint8_t /*variant*/, int32_t value) {
    return value;
}

// Magnitude of a code: the code with its sign bit cleared.
constexpr uint8_t codeMagnitude(uint8_t variant, uint8_t code) {
    return static_cast<uint8_t>(code & ~sign_bit[variant]);
}

// How far a code with this magnitude moves the estimate from the step at the current
// pointer: each magnitude bit, most significant first, adds the step as halved so far,
// and the step left after the last halving is always added.
constexpr int32_t reconstructionOffset(uint8_t variant, int32_t step, uint8_t magnitude) {
    int32_t offset = 0;
    for (int bit = length[variant] - 2; bit >= 0; --bit) {
        if ((magnitude >> bit) & 1) offset += step;
        step >>= 1;
    }
    return offset + step;
}

// Pointer after a code with this magnitude.
constexpr int16_t nextPointer(uint8_t variant, int16_t pointer, uint8_t magnitude) {
    return PointerLimit(variant, static_cast<int16_t>(pointer + aprom[magnitude][variant]));
}

// Encodes rec->pcm: afterwards rec->code holds the code, rec->estimate and rec->pointer
// are advanced and rec->pcm holds the reconstructed sample.
void enc(uint8_t variant, AdpcmParam* rec);

// Decodes rec->code (0 ... 2^length - 1) from the state in rec: advances rec->estimate
// and rec->pointer and sets rec->pcm, exactly as enc did when it produced that code.
// rec->code is left as it was.
void dec(uint8_t variant, AdpcmParam* rec);

// Encoder state of one stream: the codec state and the codes that do not yet fill a byte.
// Value-initialise to reset.
struct EncoderStream {
    AdpcmParam param;
    uint8_t pendingCount;  // codes waiting for a byte to fill
    uint8_t pendingCodes;  // those codes, earliest in the most significant bits
};

// Encodes the samples, continuing from the stream's state, and writes every completed
// byte (earliest code in the most significant bits); returns the number of bytes. out
// must hold (pendingCount + sampleCount) / count[variant] bytes. An unsupported variant
// does nothing and returns 0.
int32_t encodeStream(EncoderStream* stream, uint8_t variant, const int16_t* samples,
                     uint32_t sampleCount, uint8_t* out);

// Decoder state of one stream; value-initialise to reset.
struct DecoderStream {
    AdpcmParam param;
};

// Unpacks byteCount bytes into codes (earliest in the most significant bits) and decodes
// them, continuing from the stream's state, into byteCount * count[variant] samples at
// out; returns that number. An unsupported variant does nothing and returns 0.
int32_t decodeStream(DecoderStream* stream, uint8_t variant, const uint8_t* bytes,
                     uint32_t byteCount, int16_t* out);

// Block encoder over the process-wide encoder stream, for one stream at a time.
//   mode 0: reset the state and drop pending codes; returns 0.
//   mode 2: write the estimate's bits 15..8 and the pointer's low byte to out[0..1]; returns 0.
//   mode 4: encodeStream on the process-wide stream.
// Other modes do nothing and return 0.
int32_t tarquel_enc(uint8_t mode, uint8_t variant, const int16_t* samples, uint32_t sampleCount,
                    uint8_t* out);

// Block decoder over the process-wide decoder stream, the mirror of tarquel_enc.
//   mode 0: reset the state; returns 0.
//   mode 4: decodeStream on the process-wide stream.
// Other modes do nothing and return 0.
int32_t tarquel_dec(uint8_t mode, uint8_t variant, const uint8_t* bytes, uint32_t byteCount,
                    int16_t* out);
