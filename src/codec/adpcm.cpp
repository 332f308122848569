#include "codec/adpcm.h"

#include <cstdlib>

#include "codec/stepStates.h"

namespace {

// Moves the estimate and the pointer by one code and sets the reconstructed sample.
// The encoder applies it to the code it has just chosen, the decoder to the code it
// reads, so the two cannot drift apart.
void reconstruct(uint8_t variant, AdpcmParam* rec, uint8_t code) {
    const uint8_t magnitude = codeMagnitude(variant, code);
    const int32_t step = deltrom[rec->pointer][variant];
    int32_t offset = reconstructionOffset(variant, step, magnitude);
    if (code & sign_bit[variant]) offset = -offset;
    rec->estimate = PcmLimit(variant, rec->estimate + offset);
    rec->pointer = nextPointer(variant, rec->pointer, magnitude);
    rec->pcm = repcmconv(variant, rec->estimate);
}

// Encoder state of the process: one stream at a time.
AdpcmParam param_enc{};
uint8_t count_tmp = 0;     // codes waiting for a byte to fill
uint8_t pendingCodes = 0;  // those codes, earliest in the most significant bits

template <uint8_t Variant>
int32_t encodeBlock(const int16_t* samples, uint32_t sampleCount, uint8_t* out) {
    constexpr uint8_t kWidth = length[Variant];
    constexpr uint8_t kPerByte = count[Variant];
    StreamState<Variant> s = streamStart<Variant>(param_enc.estimate, param_enc.pointer);
    uint8_t* const start = out;
    uint8_t code = static_cast<uint8_t>(param_enc.code);
    uint32_t i = 0;

    // Complete a byte left pending by an earlier call.
    for (; count_tmp != 0 && i < sampleCount; ++i) {
        code = encodeSample<Variant>(s, samples[i]);
        pendingCodes = static_cast<uint8_t>((pendingCodes << kWidth) | code);
        if (++count_tmp == kPerByte) {
            *out++ = pendingCodes;
            count_tmp = 0;
            pendingCodes = 0;
        }
    }
    // Whole bytes.
    for (; sampleCount - i >= kPerByte; i += kPerByte) {
        uint8_t byte = 0;
        for (uint8_t k = 0; k < kPerByte; ++k) {
            code = encodeSample<Variant>(s, samples[i + k]);
            byte = static_cast<uint8_t>((byte << kWidth) | code);
        }
        *out++ = byte;
    }
    // Codes that do not fill a byte wait for the next call.
    for (; i < sampleCount; ++i) {
        code = encodeSample<Variant>(s, samples[i]);
        pendingCodes = static_cast<uint8_t>((pendingCodes << kWidth) | code);
        ++count_tmp;
    }

    if (sampleCount != 0) {
        param_enc.pcm = repcmconv(Variant, s.estimate);
        param_enc.code = static_cast<int8_t>(code);
    }
    param_enc.estimate = s.estimate;
    param_enc.pointer = static_cast<int16_t>(s.at->pointer);
    return static_cast<int32_t>(out - start);
}

// Decoder state of the process: one stream at a time.
AdpcmParam param_dec{};

template <uint8_t Variant>
int32_t decodeBlock(const uint8_t* bytes, uint32_t byteCount, int16_t* out) {
    constexpr uint8_t kWidth = length[Variant];
    constexpr uint8_t kPerByte = count[Variant];
    StreamState<Variant> s = streamStart<Variant>(param_dec.estimate, param_dec.pointer);
    for (uint32_t i = 0; i < byteCount; ++i) {
        const uint8_t byte = bytes[i];
        for (int k = kPerByte - 1; k >= 0; --k) {
            *out++ = decodeCode<Variant>(
                s, static_cast<uint8_t>((byte >> (k * kWidth)) & anddata[Variant]));
        }
    }
    if (byteCount != 0)
        param_dec.code = static_cast<int8_t>(bytes[byteCount - 1] & anddata[Variant]);
    param_dec.estimate = s.estimate;
    param_dec.pointer = static_cast<int16_t>(s.at->pointer);
    param_dec.pcm = repcmconv(Variant, s.estimate);
    return static_cast<int32_t>(byteCount * kPerByte);
}

}  // namespace

void dec(uint8_t variant, AdpcmParam* rec) {
    if (!variantSupported(variant)) return;
    reconstruct(variant, rec, static_cast<uint8_t>(rec->code & anddata[variant]));
}

void enc(uint8_t variant, AdpcmParam* rec) {
    if (!variantSupported(variant)) return;
    rec->pcm = pcmconv(variant, rec->pcm);
    int32_t step = deltrom[rec->pointer][variant];
    const int32_t diff = PcmLimit(variant, rec->pcm - rec->estimate);
    const bool below = rec->pcm < rec->estimate;
    // The sign bit starts as bit 0 and is shifted up to the top of the code.
    uint8_t code = below ? 1 : 0;
    int32_t remaining = std::abs(diff);
    for (int i = 0; i < length[variant] - 1; ++i) {
        code = static_cast<uint8_t>(code << 1);
        // Below the estimate a remainder equal to the step leaves the bit clear.
        if (below ? remaining > step : remaining >= step) {
            code = static_cast<uint8_t>(code + 1);
            remaining -= step;
        }
        step /= 2;
    }
    rec->code = static_cast<int8_t>(code);
    reconstruct(variant, rec, code);
}

int32_t tarquel_enc(uint8_t mode, uint8_t variant, const int16_t* samples, uint32_t sampleCount,
                    uint8_t* out) {
    switch (mode) {
        case kModeReset:
            param_enc.estimate = 0;
            param_enc.pointer = 0;
            count_tmp = 0;
            pendingCodes = 0;
            return 0;
        case kModeReadOut:
            // Bits 15..8 of the estimate (shifted arithmetically) and the pointer.
            out[0] = static_cast<uint8_t>(param_enc.estimate >> 8);
            out[1] = static_cast<uint8_t>(param_enc.pointer);
            return 0;
        case kModeCode:
            if (variant == kVariant4Bit)
                return encodeBlock<kVariant4Bit>(samples, sampleCount, out);
            if (variant == kVariant2Bit)
                return encodeBlock<kVariant2Bit>(samples, sampleCount, out);
            return 0;
        default:
            return 0;
    }
}

int32_t tarquel_dec(uint8_t mode, uint8_t variant, const uint8_t* bytes, uint32_t byteCount,
                    int16_t* out) {
    switch (mode) {
        case kModeReset:
            param_dec.estimate = 0;
            param_dec.pointer = 0;
            return 0;
        case kModeCode:
            if (variant == kVariant4Bit) return decodeBlock<kVariant4Bit>(bytes, byteCount, out);
            if (variant == kVariant2Bit) return decodeBlock<kVariant2Bit>(bytes, byteCount, out);
            return 0;
        default:
            return 0;
    }
}
