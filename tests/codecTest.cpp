// The codec: known answers of enc, dec and the block coders, and the properties that tie
// them together over long hostile signals (the block coders are the per-sample loops,
// whatever the split into calls; dec rebuilds what enc chose, from any state), and the
// quality meter's SNR and segmental SNR.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "codec/adpcm.h"
#include "codec/quality.h"
#include "support/reference.h"
#include "support/testSupport.h"

namespace {

Samples repeat(int16_t v, std::size_t n) {
    return Samples(n, v);
}

Samples alternating(std::size_t n) {
    Samples s(n);
    for (std::size_t i = 0; i < n; ++i) s[i] = i % 2 == 0 ? 32767 : -32768;
    return s;
}

Samples twoPeriods() {
    const Samples period = {0, 3061,  5657,  7391,  8000,  7391,  5657,  3061,
                            0, -3061, -5657, -7391, -8000, -7391, -5657, -3061};
    Samples s = period;
    s.insert(s.end(), period.begin(), period.end());
    return s;
}

Bytes encodeFromReset(uint8_t variant, const Samples& s, Bytes* state = nullptr) {
    tarquel_enc(kModeReset, 0, nullptr, 0, nullptr);
    Bytes out(s.size() + 1, 0xEE);
    out.resize(static_cast<std::size_t>(
        tarquel_enc(kModeCode, variant, s.data(), static_cast<uint32_t>(s.size()), out.data())));
    if (state != nullptr) {
        state->resize(2);
        tarquel_enc(kModeReadOut, 0, nullptr, 0, state->data());
    }
    return out;
}

// Bytes from the reset state, and the mode-2 read-out after them: the estimate's bits
// 15..8 (shifted arithmetically) and the pointer.
TEST(Codec, BlockKnownAnswers) {
    const struct {
        uint8_t variant;
        Samples samples;
        Bytes bytes, state;
    } cases[] = {
        {kVariant4Bit, repeat(0, 16), Bytes(8, 0x08), {0x00, 0}},
        {kVariant4Bit, repeat(1000, 16), {0x77, 0x77, 0x38, 0x08, 0x80, 0x80, 0x08, 0x80}, {3, 20}},
        {kVariant4Bit, repeat(1000, 5), {0x77, 0x77}, {0x04, 42}},  // the fifth code waits
        {kVariant4Bit, alternating(8), {0x7F, 0x7F, 0x7F, 0x7F}, {0xE1, 88}},
        {kVariant4Bit,
         twoPeriods(),
         {0x07, 0x77, 0x77, 0x78, 0xDB, 0xBB, 0x81, 0x37, 0x42, 0x32, 0x19, 0xCC, 0xDB, 0xAA, 0x91,
          0x37},
         {0xF4, 70}},  // estimate -2926
        {kVariant2Bit, repeat(0, 16), Bytes(4, 0x22), {0x00, 0}},
        {kVariant2Bit, repeat(1000, 16), {0x55, 0x55, 0x56, 0x22}, {0x03, 23}},
        {kVariant2Bit, repeat(1000, 6), {0x55}, {0x01, 18}},
        {kVariant2Bit, alternating(8), {0x77, 0x77}, {0xFF, 24}},  // estimate -56
    };
    for (const auto& c : cases) {
        Bytes state;
        EXPECT_EQ(encodeFromReset(c.variant, c.samples, &state), c.bytes) << c.samples.size();
        EXPECT_EQ(state, c.state) << int{c.variant} << " " << c.samples.size();
    }
}

// One sample from a state: the code enc chooses, and where it and dec leave the state.
TEST(Codec, PerSampleKnownAnswers) {
    const struct {
        uint8_t variant;
        int16_t pointer;
        int32_t estimate, sample;
        int8_t code;
        int32_t nextEstimate;
        int16_t nextPointer;
    } cases[] = {
        // At the reset state a remainder equal to the step sets the bit above, not below.
        {kVariant4Bit, 0, 0, 16, 4, 18, 2},
        {kVariant4Bit, 0, 0, -16, 11, -14, 0},
        {kVariant4Bit, 0, 0, 15, 3, 14, 0},
        {kVariant4Bit, 0, 0, 0, 0, 2, 0},
        {kVariant4Bit, 0, 0, 30, 7, 30, 11},
        {kVariant2Bit, 0, 0, 16, 1, 24, 3},
        {kVariant2Bit, 0, 0, -16, 2, -8, 0},
        {kVariant2Bit, 0, 0, -30, 3, -24, 3},
        // At the top of the step table, and against the rails.
        {kVariant4Bit, 90, 0, 32767, 7, 30565, 90},
        {kVariant4Bit, 90, 0, 0, 0, 2037, 88},
        {kVariant2Bit, 90, 0, 32767, 1, 24453, 90},
        {kVariant4Bit, 90, 32000, 32767, 0, 32767, 88},
        {kVariant4Bit, 90, -32000, -32768, 8, -32768, 88},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << int{c.variant} << " pointer " << c.pointer << " sample " << c.sample);
        AdpcmParam e{c.sample, c.pointer, 0, c.estimate};
        enc(c.variant, &e);
        EXPECT_EQ(e.code, c.code);
        AdpcmParam d{0, c.pointer, c.code, c.estimate};
        dec(c.variant, &d);
        for (const AdpcmParam& p : {e, d}) {
            EXPECT_EQ(p.estimate, c.nextEstimate);
            EXPECT_EQ(p.pointer, c.nextPointer);
            EXPECT_EQ(p.pcm, c.nextEstimate);
        }
        EXPECT_EQ(d.code, c.code) << "dec leaves the code as it was";
    }
}

TEST(Codec, StepsAreSixteenTimesPowersOf108) {
    for (std::size_t i = 0; i < kStepRows; ++i) {
        const long double exact = 16.0L * std::pow(1.08L, static_cast<long double>(i));
        EXPECT_EQ(deltrom[i][kVariant4Bit], static_cast<int32_t>(std::floor(exact))) << i;
        EXPECT_EQ(deltrom[i][kVariant2Bit], deltrom[i][kVariant4Bit]) << i;
    }
}

// From any state and for any sample, decoding the code enc chose rebuilds enc's state.
TEST(Codec, DecoderRebuildsTheEncoderFromAnyState) {
    std::mt19937 rng(20261206);
    std::uniform_int_distribution<int> pointer(0, 90), value(-32768, 32767), near(-300, 300);
    for (const uint8_t variant : {kVariant4Bit, kVariant2Bit}) {
        for (int i = 0; i < 100000; ++i) {
            AdpcmParam before{0, static_cast<int16_t>(pointer(rng)), 0, value(rng)};
            // Half the samples lie near the estimate, where ties and small codes live.
            AdpcmParam encoded = before;
            encoded.pcm = i % 2 ? value(rng) : PcmLimit(variant, before.estimate + near(rng));
            enc(variant, &encoded);
            AdpcmParam decoded = before;
            decoded.code = encoded.code;
            dec(variant, &decoded);
            ASSERT_EQ(decoded.estimate, encoded.estimate) << i;
            ASSERT_EQ(decoded.pointer, encoded.pointer) << i;
        }
    }
}

// The block coders, over uneven calls that leave codes pending, are the plain loops over
// enc and dec, and the state stays in range.
TEST(Codec, BlockCodersAreThePerSampleLoops) {
    for (const uint32_t seed : {1u, 2u}) {
        const Samples s = hostileSignal(500'000, seed);
        for (const uint8_t variant : {kVariant4Bit, kVariant2Bit}) {
            Bytes fast(s.size()), slow(s.size());
            tarquel_enc(kModeReset, 0, nullptr, 0, nullptr);
            int32_t n = 0;
            for (std::size_t at = 0, piece = 1; at < s.size(); at += piece, piece = piece * 3 + 1) {
                const auto take = static_cast<uint32_t>(std::min(piece, s.size() - at));
                n += tarquel_enc(kModeCode, variant, s.data() + at, take, fast.data() + n);
            }
            ReferenceEncoder ref{};
            const int32_t m = referenceEncode(&ref, variant, s.data(),
                                              static_cast<uint32_t>(s.size()), slow.data());
            ASSERT_EQ(n, m);
            fast.resize(static_cast<std::size_t>(n));
            slow.resize(static_cast<std::size_t>(m));
            ASSERT_EQ(fast, slow) << "seed " << seed << " variant " << int{variant};
            ASSERT_GE(ref.param.pointer, 0);
            ASSERT_LE(ref.param.pointer, 90);

            // Decoding, in two calls, rebuilds the samples dec gives code by code.
            Samples decoded(fast.size() * count[variant]);
            tarquel_dec(kModeReset, 0, nullptr, 0, nullptr);
            const int32_t first = tarquel_dec(kModeCode, variant, fast.data(), 777, decoded.data());
            tarquel_dec(kModeCode, variant, fast.data() + 777,
                        static_cast<uint32_t>(fast.size() - 777), decoded.data() + first);
            AdpcmParam p{};
            for (std::size_t i = 0; i < decoded.size(); ++i) {
                const uint8_t byte = fast[i / count[variant]];
                const int shift =
                    (count[variant] - 1 - static_cast<int>(i % count[variant])) * length[variant];
                p.code = static_cast<int8_t>((byte >> shift) & anddata[variant]);
                dec(variant, &p);
                ASSERT_EQ(decoded[i], p.pcm) << "sample " << i;
                ASSERT_GE(p.estimate, -32768);
                ASSERT_LE(p.estimate, 32767);
            }
        }
    }
}

TEST(Codec, ResetDropsPendingCodes) {
    uint8_t out[2] = {};
    const Samples one = repeat(1000, 1), zeros = repeat(0, 2);
    tarquel_enc(kModeReset, 0, nullptr, 0, nullptr);
    EXPECT_EQ(tarquel_enc(kModeCode, kVariant4Bit, one.data(), 1, out), 0);
    tarquel_enc(kModeReset, 0, nullptr, 0, nullptr);
    EXPECT_EQ(tarquel_enc(kModeCode, kVariant4Bit, zeros.data(), 2, out), 1);
    EXPECT_EQ(out[0], 0x08);
}

// SNR over the whole, and the mean over 20 ms frames of each frame's SNR held within
// -10 ... 35 dB, silent frames (below -60 dBFS) skipped.
TEST(Quality, KnownAnswers) {
    const Samples loud(160, 1000), silent(160, 0);
    const auto join = [](std::initializer_list<Samples> parts) {
        Samples s;
        for (const Samples& p : parts) s.insert(s.end(), p.begin(), p.end());
        return s;
    };
    const struct {
        Samples source, played;
        double snr, segSnr;
    } cases[] = {
        {join({loud, loud}), join({Samples(160, 1010), Samples(160, 1010)}), 40, 35},
        {join({loud, loud}), join({Samples(160, 990), Samples(160, 1100)}),
         20 - 10 * std::log10(1.01 / 2), 27.5},
        {join({loud, silent}), join({Samples(160, 1100), Samples(160, 50)}),
         20 - 10 * std::log10(1.25), 20},
        {join({loud, loud}), join({loud, Samples(160, -3000)}), 10 * std::log10(0.125), 12.5},
    };
    for (const auto& c : cases) {
        QualityMeter meter(8000);  // 160 samples a frame
        meter.add(c.source, c.played);
        EXPECT_NEAR(meter.snrDb(), c.snr, 1e-9);
        EXPECT_NEAR(meter.segSnrDb(), c.segSnr, 1e-9);
    }
}

}  // namespace
