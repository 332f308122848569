// Known answers of the encoder, per sample and per block, for both code widths.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "codec/adpcm.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes encodeFromReset(uint8_t variant, const std::vector<int16_t>& samples) {
    tarquel_enc(kModeReset, 0, nullptr, 0, nullptr);
    Bytes out(samples.size() + 1, 0xEE);
    const int32_t n = tarquel_enc(kModeCode, variant, samples.data(),
                                  static_cast<uint32_t>(samples.size()), out.data());
    out.resize(static_cast<std::size_t>(n));
    return out;
}

Bytes readOut() {
    Bytes state(2);
    tarquel_enc(kModeReadOut, 0, nullptr, 0, state.data());
    return state;
}

std::vector<int16_t> repeat(int16_t v, std::size_t n) {
    return std::vector<int16_t>(n, v);
}

std::vector<int16_t> fullScaleAlternating(std::size_t n) {
    std::vector<int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i) s[i] = i % 2 == 0 ? 32767 : -32768;
    return s;
}

std::vector<int16_t> twoPeriods() {
    const std::vector<int16_t> period = {0, 3061,  5657,  7391,  8000,  7391,  5657,  3061,
                                         0, -3061, -5657, -7391, -8000, -7391, -5657, -3061};
    std::vector<int16_t> s = period;
    s.insert(s.end(), period.begin(), period.end());
    return s;
}

struct BlockCase {
    const char* name;
    uint8_t variant;
    std::vector<int16_t> samples;
    Bytes bytes;
    Bytes state;  // mode-2 read-out after the block; empty where not listed
};

void PrintTo(const BlockCase& c, std::ostream* os) {
    *os << c.name;
}

class BlockKnownAnswer : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BlockKnownAnswer, BytesAndFinalState) {
    const BlockCase& c = GetParam();
    EXPECT_EQ(encodeFromReset(c.variant, c.samples), c.bytes);
    if (!c.state.empty()) {
        EXPECT_EQ(readOut(), c.state);
    }
}

// The read-out is the estimate's bits 15..8 (shifted arithmetically) and the pointer.
INSTANTIATE_TEST_SUITE_P(
    Cases, BlockKnownAnswer,
    ::testing::Values(
        BlockCase{"FourBitSilence", kVariant4Bit, repeat(0, 16), Bytes(8, 0x08), {0x00, 0x00}},
        BlockCase{"FourBitConstant",
                  kVariant4Bit,
                  repeat(1000, 16),
                  {0x77, 0x77, 0x38, 0x08, 0x80, 0x80, 0x08, 0x80},
                  {0x03, 0x14}},
        BlockCase{"FourBitFiveSamples", kVariant4Bit, repeat(1000, 5), {0x77, 0x77}, {0x04, 42}},
        BlockCase{"FourBitFullScale",
                  kVariant4Bit,
                  fullScaleAlternating(8),
                  {0x7F, 0x7F, 0x7F, 0x7F},
                  {}},
        BlockCase{"FourBitSine",
                  kVariant4Bit,
                  twoPeriods(),
                  {0x07, 0x77, 0x77, 0x78, 0xDB, 0xBB, 0x81, 0x37, 0x42, 0x32, 0x19, 0xCC, 0xDB,
                   0xAA, 0x91, 0x37},
                  {0xF4, 70}},  // estimate -2926
        BlockCase{"TwoBitSilence", kVariant2Bit, repeat(0, 16), Bytes(4, 0x22), {0x00, 0x00}},
        BlockCase{"TwoBitConstant",
                  kVariant2Bit,
                  repeat(1000, 16),
                  {0x55, 0x55, 0x56, 0x22},
                  {0x03, 23}},  // estimate 988
        BlockCase{"TwoBitSixSamples", kVariant2Bit, repeat(1000, 6), {0x55}, {0x01, 18}},
        BlockCase{"TwoBitFullScale",
                  kVariant2Bit,
                  fullScaleAlternating(8),
                  {0x77, 0x77},
                  {0xFF, 24}}),  // estimate -56
    [](const ::testing::TestParamInfo<BlockCase>& info) { return info.param.name; });

TEST(BlockKnownAnswer, FourBitFullScalePointerClimbsBy11) {
    AdpcmParam p{};
    const std::vector<int16_t> s = fullScaleAlternating(8);
    for (std::size_t i = 0; i < s.size(); ++i) {
        p.pcm = s[i];
        enc(kVariant4Bit, &p);
        EXPECT_EQ(p.code, i % 2 == 0 ? 7 : 15) << i;
        EXPECT_EQ(p.pointer, 11 * static_cast<int>(i + 1)) << i;
    }
}

struct TraceCase {
    const char* name;
    uint8_t variant;
    std::vector<int32_t> estimates;
    std::vector<int16_t> pointers;  // empty: not listed
};

void PrintTo(const TraceCase& c, std::ostream* os) {
    *os << c.name;
}

class PerSampleTrace : public ::testing::TestWithParam<TraceCase> {};

TEST_P(PerSampleTrace, ConstantInputOf1000) {
    const TraceCase& c = GetParam();
    AdpcmParam p{};
    for (std::size_t i = 0; i < c.estimates.size(); ++i) {
        p.pcm = 1000;
        enc(c.variant, &p);
        EXPECT_EQ(p.estimate, c.estimates[i]) << "sample " << i;
        EXPECT_EQ(p.pcm, p.estimate) << "sample " << i;
        if (!c.pointers.empty()) {
            EXPECT_EQ(p.pointer, c.pointers[i]) << "sample " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PerSampleTrace,
    ::testing::Values(TraceCase{"FourBit",
                                kVariant4Bit,
                                {30, 98, 258, 636, 1049, 999, 1042, 1005, 974, 1001, 978, 998, 1015,
                                 1001, 989, 999},
                                {11, 22, 33, 44, 42, 40, 38, 36, 34, 32, 30, 28, 26, 24, 22, 20}},
                      TraceCase{"TwoBit",
                                kVariant2Bit,
                                {24, 54, 91, 137, 197, 272, 366, 486, 637, 827, 1068, 967, 1053,
                                 979, 1042, 988},
                                {}}),
    [](const ::testing::TestParamInfo<TraceCase>& info) { return info.param.name; });

struct TieCase {
    uint8_t variant;
    int16_t sample;
    int8_t code;
    int32_t estimate;
    int16_t pointer;
};

// A remainder equal to the step sets the bit at or above the estimate, not below it.
TEST(Encoder, TieBreaksFromReset) {
    const TieCase cases[] = {
        {kVariant4Bit, 16, 4, 18, 2}, {kVariant4Bit, -16, 11, -14, 0}, {kVariant4Bit, 15, 3, 14, 0},
        {kVariant2Bit, 16, 1, 24, 3}, {kVariant2Bit, -16, 2, -8, 0},   {kVariant4Bit, 0, 0, 2, 0},
    };
    for (const TieCase& c : cases) {
        AdpcmParam p{c.sample, 0, 0, 0};
        enc(c.variant, &p);
        EXPECT_EQ(p.code, c.code) << int{c.variant} << " " << c.sample;
        EXPECT_EQ(p.estimate, c.estimate) << int{c.variant} << " " << c.sample;
        EXPECT_EQ(p.pointer, c.pointer) << int{c.variant} << " " << c.sample;
    }
}

TEST(Encoder, StateStaysInRangeOverLongFullScaleRuns) {
    for (const uint8_t variant : {kVariant4Bit, kVariant2Bit}) {
        AdpcmParam p{};
        bool reachedTop = false;
        for (int i = 0; i < 20000; ++i) {
            // Long runs at each rail, then alternation, drive both clamps.
            const int phase = (i / 500) % 3;
            p.pcm = phase == 0 ? 32767 : phase == 1 ? -32768 : (i % 2 ? 32767 : -32768);
            enc(variant, &p);
            ASSERT_GE(p.pointer, 0);
            ASSERT_LE(p.pointer, 90);
            ASSERT_GE(p.estimate, -32768);
            ASSERT_LE(p.estimate, 32767);
            reachedTop = reachedTop || p.pointer == 90;
        }
        EXPECT_TRUE(reachedTop) << "the run must exercise the pointer clamp";
    }
}

TEST(BlockEncoder, PendingCodesCarryAcrossCalls) {
    const std::vector<int16_t> samples = twoPeriods();
    for (const uint8_t variant : {kVariant4Bit, kVariant2Bit}) {
        const Bytes whole = encodeFromReset(variant, samples);
        const Bytes wholeState = readOut();
        // Split at every point, including ones that leave codes pending.
        for (std::size_t split = 0; split <= samples.size(); ++split) {
            tarquel_enc(kModeReset, 0, nullptr, 0, nullptr);
            Bytes out(samples.size(), 0);
            int32_t n = tarquel_enc(kModeCode, variant, samples.data(),
                                    static_cast<uint32_t>(split), out.data());
            n += tarquel_enc(kModeCode, variant, samples.data() + split,
                             static_cast<uint32_t>(samples.size() - split), out.data() + n);
            out.resize(static_cast<std::size_t>(n));
            EXPECT_EQ(out, whole) << "variant " << int{variant} << " split " << split;
            EXPECT_EQ(readOut(), wholeState);
        }
    }
}

TEST(BlockEncoder, ResetDropsPendingCodes) {
    const std::vector<int16_t> ones = repeat(1000, 1);
    const std::vector<int16_t> zeros = repeat(0, 2);
    tarquel_enc(kModeReset, 0, nullptr, 0, nullptr);
    uint8_t out[4] = {};
    EXPECT_EQ(tarquel_enc(kModeCode, kVariant4Bit, ones.data(), 1, out), 0);
    tarquel_enc(kModeReset, 0, nullptr, 0, nullptr);
    EXPECT_EQ(tarquel_enc(kModeCode, kVariant4Bit, zeros.data(), 2, out), 1);
    EXPECT_EQ(out[0], 0x08);
}

TEST(BlockEncoder, OtherModesAndVariantsChangeNothing) {
    const std::vector<int16_t> s = repeat(1000, 4);
    encodeFromReset(kVariant4Bit, s);
    const Bytes before = readOut();
    Bytes out(8, 0xEE);
    for (const uint8_t mode : {1, 3, 5, 255}) {
        EXPECT_EQ(tarquel_enc(mode, kVariant4Bit, s.data(), 4, out.data()), 0);
    }
    EXPECT_EQ(tarquel_enc(kModeCode, 1, s.data(), 4, out.data()), 0);
    EXPECT_EQ(tarquel_enc(kModeCode, 200, s.data(), 4, out.data()), 0);
    EXPECT_EQ(out, Bytes(8, 0xEE));
    EXPECT_EQ(readOut(), before);
}

TEST(Tables, StepsAreSixteenTimesPowersOf108) {
    for (std::size_t i = 0; i < kStepRows; ++i) {
        const long double exact = 16.0L * std::pow(1.08L, static_cast<long double>(i));
        EXPECT_EQ(deltrom[i][kVariant4Bit], static_cast<int32_t>(std::floor(exact))) << i;
        EXPECT_EQ(deltrom[i][kVariant2Bit], deltrom[i][kVariant4Bit]) << i;
    }
}

}  // namespace
