// The decoder: known answers, and agreement with the encoder's own reconstruction.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/adpcm.h"

namespace {

struct DecodeCase {
    uint8_t variant;
    int16_t pointerBefore;
    int8_t code;
    int32_t estimate;
    int16_t pointer;
};

TEST(Decoder, SingleCodesFromKnownStates) {
    const DecodeCase cases[] = {
        // From the reset state, every 4-bit code.
        {kVariant4Bit, 0, 0, 2, 0},
        {kVariant4Bit, 0, 1, 6, 0},
        {kVariant4Bit, 0, 2, 10, 0},
        {kVariant4Bit, 0, 3, 14, 0},
        {kVariant4Bit, 0, 4, 18, 2},
        {kVariant4Bit, 0, 5, 22, 6},
        {kVariant4Bit, 0, 6, 26, 9},
        {kVariant4Bit, 0, 7, 30, 11},
        {kVariant4Bit, 0, 8, -2, 0},
        {kVariant4Bit, 0, 9, -6, 0},
        {kVariant4Bit, 0, 10, -10, 0},
        {kVariant4Bit, 0, 11, -14, 0},
        {kVariant4Bit, 0, 12, -18, 2},
        {kVariant4Bit, 0, 13, -22, 6},
        {kVariant4Bit, 0, 14, -26, 9},
        {kVariant4Bit, 0, 15, -30, 11},
        // Every 2-bit code.
        {kVariant2Bit, 0, 0, 8, 0},
        {kVariant2Bit, 0, 1, 24, 3},
        {kVariant2Bit, 0, 2, -8, 0},
        {kVariant2Bit, 0, 3, -24, 3},
        // At the top of the step table.
        {kVariant4Bit, 90, 7, 30565, 90},
        {kVariant4Bit, 90, 0, 2037, 88},
        {kVariant2Bit, 90, 1, 24453, 90},
    };
    for (const DecodeCase& c : cases) {
        AdpcmParam p{0, c.pointerBefore, c.code, 0};
        dec(c.variant, &p);
        EXPECT_EQ(p.estimate, c.estimate) << int{c.variant} << " code " << int{c.code};
        EXPECT_EQ(p.pointer, c.pointer) << int{c.variant} << " code " << int{c.code};
        EXPECT_EQ(p.pcm, c.estimate);
        EXPECT_EQ(p.code, c.code) << "the code is left as it was";
    }
}

TEST(Decoder, CodeSequenceFromReset) {
    const int8_t codes[] = {7, 7, 7, 7, 3};
    const int32_t estimates[] = {30, 98, 258, 636, 1049};
    const int16_t pointers[] = {11, 22, 33, 44, 42};
    AdpcmParam p{};
    for (std::size_t i = 0; i < std::size(codes); ++i) {
        p.code = codes[i];
        dec(kVariant4Bit, &p);
        EXPECT_EQ(p.estimate, estimates[i]) << i;
        EXPECT_EQ(p.pointer, pointers[i]) << i;
    }
}

TEST(Decoder, ClampsAtTheRails) {
    AdpcmParam p{0, 90, 7, 32000};
    dec(kVariant4Bit, &p);
    EXPECT_EQ(p.estimate, 32767);
    p = {0, 90, 15, -32000};
    dec(kVariant4Bit, &p);
    EXPECT_EQ(p.estimate, -32768);
}

// From any state and for any sample, decoding the code enc chose reproduces enc's state.
TEST(Decoder, MatchesTheEncoderFromRandomStates) {
    std::mt19937 rng(20261206);
    std::uniform_int_distribution<int> pointer(0, 90);
    std::uniform_int_distribution<int> value(-32768, 32767);
    std::uniform_int_distribution<int> near(-300, 300);
    for (const uint8_t variant : {kVariant4Bit, kVariant2Bit}) {
        for (int i = 0; i < 200000; ++i) {
            AdpcmParam before{};
            before.pointer = static_cast<int16_t>(pointer(rng));
            before.estimate = value(rng);
            // Half the samples lie near the estimate, where ties and small codes live.
            const int32_t sample =
                i % 2 ? value(rng) : PcmLimit(variant, before.estimate + near(rng));
            AdpcmParam encoded = before;
            encoded.pcm = sample;
            enc(variant, &encoded);
            AdpcmParam decoded = before;
            decoded.code = encoded.code;
            dec(variant, &decoded);
            ASSERT_EQ(decoded.estimate, encoded.estimate) << i;
            ASSERT_EQ(decoded.pointer, encoded.pointer) << i;
            ASSERT_EQ(decoded.pcm, encoded.pcm) << i;
        }
    }
}

std::vector<int16_t> randomSignal(std::size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, 4000);
    std::vector<int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<int16_t>(PcmLimit(0, static_cast<int32_t>(noise(rng))));
    }
    return s;
}

// The block decoder unpacks the encoder's bytes and yields its reconstruction, also when
// the bytes arrive over several calls.
TEST(BlockDecoder, ReproducesTheEncodersReconstruction) {
    const std::vector<int16_t> signal = randomSignal(40000, 7);
    for (const uint8_t variant : {kVariant4Bit, kVariant2Bit}) {
        std::vector<int16_t> reconstruction;
        AdpcmParam p{};
        for (const int16_t s : signal) {
            p.pcm = s;
            enc(variant, &p);
            reconstruction.push_back(static_cast<int16_t>(p.pcm));
        }
        tarquel_enc(kModeReset, 0, nullptr, 0, nullptr);
        std::vector<uint8_t> bytes(signal.size());
        bytes.resize(static_cast<std::size_t>(tarquel_enc(kModeCode, variant, signal.data(),
                                                          static_cast<uint32_t>(signal.size()),
                                                          bytes.data())));

        tarquel_dec(kModeReset, 0, nullptr, 0, nullptr);
        std::vector<int16_t> decoded(bytes.size() * count[variant]);
        const uint32_t firstPart = 777;
        int32_t n = tarquel_dec(kModeCode, variant, bytes.data(), firstPart, decoded.data());
        n += tarquel_dec(kModeCode, variant, bytes.data() + firstPart,
                         static_cast<uint32_t>(bytes.size() - firstPart), decoded.data() + n);
        EXPECT_EQ(static_cast<std::size_t>(n), decoded.size());
        EXPECT_EQ(decoded, reconstruction) << int{variant};
    }
}

TEST(BlockDecoder, UnpacksEarliestCodeFromTheTopBits) {
    struct Case {
        uint8_t variant;
        uint8_t byte;
        std::vector<int16_t> samples;
    } cases[] = {
        {kVariant4Bit, 0x08, {2, 0}},            // code 0 then 8
        {kVariant4Bit, 0x70, {30, 34}},          // 7 lifts the pointer to 11 (step 37): +4
        {kVariant2Bit, 0x22, {8, 0, 8, 0}},      // 0, 2, 0, 2
        {kVariant2Bit, 0x40, {24, 34, 42, 50}},  // 1, 0, 0, 0: steps 16, 20, 17, 16
    };
    for (const Case& c : cases) {
        tarquel_dec(kModeReset, 0, nullptr, 0, nullptr);
        std::vector<int16_t> out(count[c.variant], -1);
        EXPECT_EQ(tarquel_dec(kModeCode, c.variant, &c.byte, 1, out.data()), count[c.variant]);
        EXPECT_EQ(out, c.samples) << int{c.variant} << " " << int{c.byte};
    }
}

TEST(BlockDecoder, OtherModesAndVariantsDoNothing) {
    const uint8_t byte = 0x77;
    int16_t out[4] = {-1, -1, -1, -1};
    EXPECT_EQ(tarquel_dec(3, kVariant4Bit, &byte, 1, out), 0);
    EXPECT_EQ(tarquel_dec(kModeCode, 7, &byte, 1, out), 0);
    EXPECT_EQ(out[0], -1);
}

}  // namespace
