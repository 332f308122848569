// The device file: its header, and whole conversions from memory to memory over every
// combination of input and output that can or cannot seek.
#include <gtest/gtest.h>

#include "adpFile.h"
#include "codec/adpcm.h"
#include "ioHooks.h"
#include "messages.h"
#include "support/testSupport.h"

namespace {

TEST(AdpHeader, FourBitAt8000) {
    uint8_t h[kAdpHeaderSize];
    EXPECT_EQ(makeAdpHeader(100, 8000, kVariant4Bit, h), 0);
    EXPECT_EQ(Bytes(h, h + kAdpHeaderSize),
              (Bytes{0x41, 0x75, 0x64, 0x69, 0x80, 0x01, 0x01, 0x04, 0x1F, 0x40, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x64}));
}

TEST(AdpHeader, TwoBitAt32000) {
    uint8_t h[kAdpHeaderSize];
    makeAdpHeader(0x01020304, 32000, kVariant2Bit, h);
    EXPECT_EQ(Bytes(h + 4, h + 10), (Bytes{0x80, 0x00, 0x01, 0x02, 0x7D, 0x00}));
    EXPECT_EQ(Bytes(h + 12, h + 16), (Bytes{0x01, 0x02, 0x03, 0x04}));
}

TEST(AdpHeader, OtherVariantsDescribeNoCode) {
    uint8_t h[kAdpHeaderSize];
    makeAdpHeader(-1, 4000, 5, h);
    EXPECT_EQ(Bytes(h + 4, h + 8), (Bytes{0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(Bytes(h + 12, h + 16), (Bytes{0xFF, 0xFF, 0xFF, 0xFF})) << "the length's bit pattern";
}

enum class In { Seekable, Pipe };
enum class Out { Seekable, Pipe };

struct Result {
    int status;
    Bytes file;
};

Result convert(const Bytes& wav, uint8_t variant, In in, Out out) {
    FILE* from = in == In::Seekable ? memoryStream(wav) : pipeLikeStream(wav);
    Result r{0, {}};
    FILE* to = out == Out::Seekable ? std::tmpfile() : pipeLikeSink(&r.file);
    r.status = convertWaveToAdp(from, to, out == Out::Seekable, variant);
    if (out == Out::Seekable) {
        std::rewind(to);
        int c;
        while ((c = std::fgetc(to)) != EOF) r.file.push_back(static_cast<uint8_t>(c));
    }
    std::fclose(to);
    std::fclose(from);
    return r;
}

// Runs the conversion through all four stream combinations; they must agree.
Result convertEveryWay(const Bytes& wav, uint8_t variant) {
    const Result first = convert(wav, variant, In::Seekable, Out::Seekable);
    for (const In in : {In::Seekable, In::Pipe}) {
        for (const Out out : {Out::Seekable, Out::Pipe}) {
            const Result r = convert(wav, variant, in, out);
            EXPECT_EQ(r.status, first.status) << int(in) << int(out);
            if (r.status == kStatusFinished) {
                EXPECT_EQ(r.file, first.file) << int(in) << int(out);
            }
        }
    }
    return first;
}

const std::vector<int16_t> k1000x16(16, 1000);

TEST(Conversion, WholeFileFourBit) {
    const Result r = convertEveryWay(monoWave(k1000x16, 8000), kVariant4Bit);
    EXPECT_EQ(r.status, kStatusFinished);
    EXPECT_EQ(r.file, adpFile(8000, true, {0x77, 0x77, 0x38, 0x08, 0x80, 0x80, 0x08, 0x80}));
}

TEST(Conversion, WholeFileTwoBit) {
    const Result r = convertEveryWay(monoWave(k1000x16, 16000), kVariant2Bit);
    EXPECT_EQ(r.status, kStatusFinished);
    EXPECT_EQ(r.file, adpFile(16000, false, {0x55, 0x55, 0x56, 0x22}));
}

TEST(Conversion, EmptyDataChunkGivesHeaderOnly) {
    const Result r = convertEveryWay(monoWave({}, 4000), kVariant4Bit);
    EXPECT_EQ(r.status, kStatusFinished);
    EXPECT_EQ(r.file, adpFile(4000, true, {}));
}

TEST(Conversion, CodesThatDoNotFillAByteAreDropped) {
    EXPECT_EQ(convertEveryWay(monoWave(std::vector<int16_t>(5, 1000)), kVariant4Bit).file,
              adpFile(8000, true, {0x77, 0x77}));
    EXPECT_EQ(convertEveryWay(monoWave(std::vector<int16_t>(6, 1000)), kVariant2Bit).file,
              adpFile(8000, false, {0x55}));
}

const Bytes kFmt = chunk("fmt ", formatBody(1, 1, 8000, 16));

// Only the data chunk is audio: what follows it is not encoded, and a size larger than
// what is left (a truncated file, a streaming writer's placeholder) ends at the input's end.
TEST(Conversion, PayloadIsTheDataChunk) {
    const Bytes expected = adpFile(8000, true, {0x77, 0x77, 0x38, 0x08, 0x80, 0x80, 0x08, 0x80});
    const Bytes data = sampleBytes(k1000x16);
    const Bytes trailing = chunk("LIST", Bytes(26, 'i'));
    struct Layout {
        const char* name;
        Bytes file;
    } layouts[] = {
        {"trailing LIST", riff({kFmt, chunk("data", data), trailing})},
        {"trailing odd byte", riff({kFmt, chunkDeclared("data", 33, data), Bytes{0x7F}})},
        {"placeholder 0xFFFFFFFF", riff({kFmt, chunkDeclared("data", 0xFFFFFFFFu, data)})},
        {"placeholder 0x7FFFF000", riff({kFmt, chunkDeclared("data", 0x7FFFF000u, data)})},
        {"truncated", riff({kFmt, chunkDeclared("data", 1000, data)})},
        {"odd data size", riff({kFmt, chunk("data",
                                            [&] {
                                                Bytes d = data;
                                                d.push_back(0x55);
                                                return d;
                                            }())})},
    };
    for (const Layout& l : layouts) {
        const Result r = convertEveryWay(l.file, kVariant4Bit);
        EXPECT_EQ(r.status, kStatusFinished) << l.name;
        EXPECT_EQ(r.file, expected) << l.name;
    }
}

TEST(Conversion, DataSizeShorterThanTheRestLimitsThePayload) {
    std::vector<int16_t> samples = k1000x16;
    samples.resize(24, -20000);
    const Bytes file = riff({kFmt, chunkDeclared("data", 32, sampleBytes(samples))});
    EXPECT_EQ(convertEveryWay(file, kVariant4Bit).file,
              adpFile(8000, true, {0x77, 0x77, 0x38, 0x08, 0x80, 0x80, 0x08, 0x80}));
}

TEST(Conversion, FormatChecks) {
    for (const RejectedWave& c : rejectedWaves()) {
        EXPECT_EQ(convertEveryWay(c.file, kVariant4Bit).status,
                  c.rateError ? kStatusRate : kStatusFormat)
            << c.name;
    }
}

TEST(Conversion, EveryAcceptedRateIsWrittenIntoTheHeader) {
    for (const uint32_t rate : kAcceptedRates) {
        const Result r = convertEveryWay(monoWave(k1000x16, rate), kVariant2Bit);
        ASSERT_EQ(r.status, kStatusFinished) << rate;
        EXPECT_EQ(r.file, adpFile(rate, false, {0x55, 0x55, 0x56, 0x22})) << rate;
    }
}

// A long payload streams through several blocks and must match one encoder call.
TEST(Conversion, LongPayloadMatchesOneEncoderCall) {
    std::vector<int16_t> samples(200001);
    uint32_t x = 1;
    for (int16_t& s : samples) {
        x = x * 1664525u + 1013904223u;
        s = static_cast<int16_t>(x >> 16);
    }
    for (const uint8_t variant : {kVariant4Bit, kVariant2Bit}) {
        tarquel_enc(kModeReset, 0, nullptr, 0, nullptr);
        Bytes payload(samples.size());
        payload.resize(static_cast<std::size_t>(tarquel_enc(kModeCode, variant, samples.data(),
                                                            static_cast<uint32_t>(samples.size()),
                                                            payload.data())));
        const Result r = convertEveryWay(monoWave(samples, 12800), variant);
        EXPECT_EQ(r.file, adpFile(12800, variant == kVariant4Bit, payload));
    }
}

class FaultInjection : public ::testing::Test {
protected:
    void TearDown() override { resetIoHooks(); }
};

TEST_F(FaultInjection, FailedAllocationIsReported) {
    ioHooks.allocate = [](std::size_t) -> void* { return nullptr; };
    EXPECT_EQ(convert(monoWave(k1000x16), kVariant4Bit, In::Seekable, Out::Seekable).status,
              kStatusMemory);
}

TEST_F(FaultInjection, FailedGrowthOfHeldCodesIsReported) {
    ioHooks.reallocate = [](void*, std::size_t) -> void* { return nullptr; };
    EXPECT_EQ(convert(monoWave(k1000x16), kVariant4Bit, In::Pipe, Out::Pipe).status, kStatusMemory);
    EXPECT_EQ(convert(monoWave(k1000x16), kVariant4Bit, In::Pipe, Out::Seekable).status,
              kStatusFinished)
        << "a seekable output needs no held codes";
}

TEST_F(FaultInjection, ReadErrorIsReported) {
    ioHooks.read = [](void*, std::size_t, std::size_t, FILE* fp) -> std::size_t {
        // An I/O error on the stream, as a failing disk gives.
        while (std::fgetc(fp) != EOF) {
        }
        return 0;
    };
    EXPECT_EQ(convert(monoWave(k1000x16), kVariant4Bit, In::Seekable, Out::Seekable).status,
              kStatusRead);
}

TEST_F(FaultInjection, ShortWriteIsReported) {
    const Bytes wav = monoWave(k1000x16);
    FILE* from = memoryStream(wav);
    char buf[20];
    FILE* to = fmemopen(buf, sizeof buf, "wb");  // room for the header, not the payload
    std::setvbuf(to, nullptr, _IONBF, 0);
    EXPECT_EQ(convertWaveToAdp(from, to, true, kVariant4Bit), kStatusWrite);
    std::fclose(to);
    std::fclose(from);
}

}  // namespace
