// The table-driven block coders against the plain per-sample loops over enc and dec, on
// long signals that mix speech-like stretches, silence, full-scale noise and rails.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "codec/adpcm.h"
#include "codec/reference.h"

namespace {

std::vector<int16_t> mixedSignal(std::size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> full(-32768, 32767);
    std::uniform_int_distribution<int> stretch(1, 5000);
    std::normal_distribution<double> noise(0, 500);
    std::vector<int16_t> s;
    s.reserve(n);
    int kind = 0;
    while (s.size() < n) {
        const int len = stretch(rng);
        for (int i = 0; i < len && s.size() < n; ++i) {
            const double t = static_cast<double>(s.size());
            double v = 0;
            switch (kind) {
                case 0:
                    v = 9000 * std::sin(t * 0.05) * std::sin(t * 0.001) + noise(rng);
                    break;
                case 1:
                    v = 0;
                    break;  // silence
                case 2:
                    v = full(rng);
                    break;  // full-scale noise
                case 3:
                    v = (i / 7) % 2 ? 32767 : -32768;
                    break;  // square at the rails
                case 4:
                    v = i % 2 ? 32767 : -32768;
                    break;  // alternating rails
                default:
                    v = 30000 * std::sin(t * 0.3);
                    break;  // loud tone
            }
            s.push_back(static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0))));
        }
        kind = (kind + 1 + static_cast<int>(rng() % 3)) % 6;
    }
    return s;
}

TEST(Differential, BlockEncoderMatchesThePerSampleLoop) {
    for (const uint32_t seed : {1u, 2u, 3u}) {
        const std::vector<int16_t> s = mixedSignal(1'000'000, seed);
        for (const uint8_t variant : {kVariant4Bit, kVariant2Bit}) {
            std::vector<uint8_t> fast(s.size()), slow(s.size());
            tarquel_enc(kModeReset, 0, nullptr, 0, nullptr);
            // Uneven calls, so that codes are left pending across them.
            int32_t n = 0;
            for (std::size_t at = 0, piece = 1; at < s.size(); at += piece, piece = piece * 3 + 1) {
                const std::size_t take = std::min(piece, s.size() - at);
                n += tarquel_enc(kModeCode, variant, s.data() + at, static_cast<uint32_t>(take),
                                 fast.data() + n);
            }
            ReferenceEncoder ref{};
            const int32_t m = referenceEncode(&ref, variant, s.data(),
                                              static_cast<uint32_t>(s.size()), slow.data());
            ASSERT_EQ(n, m);
            fast.resize(static_cast<std::size_t>(n));
            slow.resize(static_cast<std::size_t>(m));
            ASSERT_EQ(fast, slow) << "seed " << seed << " variant " << int{variant};

            uint8_t state[2];
            tarquel_enc(kModeReadOut, 0, nullptr, 0, state);
            EXPECT_EQ(state[0], static_cast<uint8_t>(ref.param.estimate >> 8));
            EXPECT_EQ(state[1], static_cast<uint8_t>(ref.param.pointer));
        }
    }
}

TEST(Differential, BlockDecoderMatchesThePerSampleLoop) {
    const std::vector<int16_t> s = mixedSignal(1'000'000, 9);
    for (const uint8_t variant : {kVariant4Bit, kVariant2Bit}) {
        // Every byte value appears; the decoder need not see encoder output.
        std::vector<uint8_t> bytes(s.size() / 4);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(s[i] ^ (i * 37));
        std::vector<int16_t> fast(bytes.size() * count[variant]);
        tarquel_dec(kModeReset, 0, nullptr, 0, nullptr);
        tarquel_dec(kModeCode, variant, bytes.data(), static_cast<uint32_t>(bytes.size()),
                    fast.data());
        AdpcmParam p{};
        std::size_t k = 0;
        for (const uint8_t byte : bytes) {
            for (int c = count[variant] - 1; c >= 0; --c) {
                p.code = static_cast<int8_t>((byte >> (c * length[variant])) & anddata[variant]);
                dec(variant, &p);
                ASSERT_EQ(fast[k], p.pcm) << "sample " << k << " variant " << int{variant};
                ++k;
            }
        }
    }
}

}  // namespace
