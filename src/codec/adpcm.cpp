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

template <uint8_t Variant>
int32_t encodeBlock(EncoderStream* stream, const int16_t* samples, uint32_t sampleCount,
                    uint8_t* out) {
    constexpr uint8_t kWidth = length[Variant];
    constexpr uint8_t kPerByte = count[Variant];
    AdpcmParam& param = stream->param;
    StreamState<Variant> s = streamStart<Variant>(param.estimate, param.pointer);
    uint8_t* const start = out;
    uint8_t code = static_cast<uint8_t>(param.code);
    uint32_t i = 0;

    // Complete a byte left pending by an earlier call.
    for (; stream->pendingCount != 0 && i < sampleCount; ++i) {
        code = encodeSample<Variant>(s, samples[i]);
        stream->pendingCodes = static_cast<uint8_t>((stream->pendingCodes << kWidth) | code);
        if (++stream->pendingCount == kPerByte) {
            *out++ = stream->pendingCodes;
            stream->pendingCount = 0;
            stream->pendingCodes = 0;
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
        stream->pendingCodes = static_cast<uint8_t>((stream->pendingCodes << kWidth) | code);
        ++stream->pendingCount;
    }

    if (sampleCount != 0) {
        param.pcm = repcmconv(Variant, s.estimate);
        param.code = static_cast<int8_t>(code);
    }
    param.estimate = s.estimate;
    param.pointer = static_cast<int16_t>(s.at->pointer);
    return static_cast<int32_t>(out - start);
}

template <uint8_t Variant>
int32_t decodeBlock(DecoderStream* stream, const uint8_t* bytes, uint32_t byteCount, int16_t* out) {
    constexpr uint8_t kWidth = length[Variant];
    constexpr uint8_t kPerByte = count[Variant];
    AdpcmParam& param = stream->param;
    StreamState<Variant> s = streamStart<Variant>(param.estimate, param.pointer);
    for (uint32_t i = 0; i < byteCount; ++i) {
        const uint8_t byte = bytes[i];
        for (int k = kPerByte - 1; k >= 0; --k) {
            *out++ = decodeCode<Variant>(
                s, static_cast<uint8_t>((byte >> (k * kWidth)) & anddata[Variant]));
        }
    }
    if (byteCount != 0) param.code = static_cast<int8_t>(bytes[byteCount - 1] & anddata[Variant]);
    param.estimate = s.estimate;
    param.pointer = static_cast<int16_t>(s.at->pointer);
    param.pcm = repcmconv(Variant, s.estimate);
    return static_cast<int32_t>(byteCount * kPerByte);
}

// The streams of the process-wide block coders.
EncoderStream enc_stream{};
DecoderStream dec_stream{};

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

int32_t encodeStream(EncoderStream* stream, uint8_t variant, const int16_t* samples,
                     uint32_t sampleCount, uint8_t* out) {
    if (variant == kVariant4Bit)
        return encodeBlock<kVariant4Bit>(stream, samples, sampleCount, out);
    if (variant == kVariant2Bit)
        return encodeBlock<kVariant2Bit>(stream, samples, sampleCount, out);
    return 0;
}

int32_t decodeStream(DecoderStream* stream, uint8_t variant, const uint8_t* bytes,
                     uint32_t byteCount, int16_t* out) {
    if (variant == kVariant4Bit) return decodeBlock<kVariant4Bit>(stream, bytes, byteCount, out);
    if (variant == kVariant2Bit) return decodeBlock<kVariant2Bit>(stream, bytes, byteCount, out);
    return 0;
}

int32_t tarquel_enc(uint8_t mode, uint8_t variant, const int16_t* samples, uint32_t sampleCount,
                    uint8_t* out) {
    switch (mode) {
        case kModeReset:
            enc_stream.param.estimate = 0;
            enc_stream.param.pointer = 0;
            enc_stream.pendingCount = 0;
            enc_stream.pendingCodes = 0;
            return 0;
        case kModeReadOut:
            // Bits 15..8 of the estimate (shifted arithmetically) and the pointer.
            out[0] = static_cast<uint8_t>(enc_stream.param.estimate >> 8);
            out[1] = static_cast<uint8_t>(enc_stream.param.pointer);
            return 0;
        case kModeCode:
            return encodeStream(&enc_stream, variant, samples, sampleCount, out);
        default:
            return 0;
    }
}

int32_t tarquel_dec(uint8_t mode, uint8_t variant, const uint8_t* bytes, uint32_t byteCount,
                    int16_t* out) {
    switch (mode) {
        case kModeReset:
            dec_stream.param.estimate = 0;
            dec_stream.param.pointer = 0;
            return 0;
        case kModeCode:
            return decodeStream(&dec_stream, variant, bytes, byteCount, out);
        default:
            return 0;
    }
}
