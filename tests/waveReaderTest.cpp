// The WAVE header reader on files built as byte arrays, each read both from a stream
// that can seek and from one that cannot.
#include <gtest/gtest.h>

#include "support/testSupport.h"
#include "wave/waveFile.h"

namespace {

const std::vector<int16_t> kSamples = {0x1234, -2, 3};
const Bytes kFmt = chunk("fmt ", formatBody(1, 1, 8000, 16));
const Bytes kData = chunk("data", sampleBytes(kSamples));
const Bytes kList = chunk("LIST", {'I', 'N', 'F', 'O', 'a', 'b'});

Bytes withExtra(Bytes body, std::size_t extra) {
    for (std::size_t i = 0; i < extra; ++i) body.push_back(static_cast<uint8_t>(0xA0 + i));
    return body;
}

Bytes prefix(Bytes b, std::size_t n) {
    b.resize(n);
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

enum class Stream { Seekable, Pipe };

struct Outcome {
    int16_t status;
    WaveFormat format;
    uint32_t dataSize;
    Bytes next;  // the two bytes that follow the reader's final position
};

Outcome readHeader(const Bytes& file, Stream kind) {
    FILE* fp = kind == Stream::Seekable ? memoryStream(file) : pipeLikeStream(file);
    Outcome o{};
    o.status = waveFileOpen(&o.format, fp, &o.dataSize);
    o.next.resize(2);
    o.next.resize(std::fread(o.next.data(), 1, 2, fp));
    std::fclose(fp);
    return o;
}

struct Case {
    const char* name;
    Bytes file;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class Rejected : public ::testing::TestWithParam<Case> {};

TEST_P(Rejected, IsAStructuralFailure) {
    for (const Stream kind : {Stream::Seekable, Stream::Pipe}) {
        EXPECT_EQ(readHeader(GetParam().file, kind).status, kWaveBadStructure)
            << (kind == Stream::Seekable ? "seekable" : "pipe");
    }
}

Bytes riffTagged(const char* first, const char* second, const Bytes& rest) {
    Bytes b;
    putText(b, first);
    putLe32(b, static_cast<uint32_t>(rest.size() + 4));
    putText(b, second);
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

Bytes shortFormat(uint32_t size) {
    Bytes body = formatBody(1, 1, 8000, 16);
    body.resize(size);
    return riff({chunk("fmt ", body), kData});
}

INSTANTIATE_TEST_SUITE_P(
    Tags, Rejected,
    ::testing::Values(Case{"Empty", {}},
                      Case{"BigEndianRifx", riffTagged("RIFX", "WAVE", concat({kFmt, kData}))},
                      Case{"NotWave", riffTagged("RIFF", "AVI ", concat({kFmt, kData}))},
                      Case{"LowerCaseFmt",
                           riff({chunk("FMT ", formatBody(1, 1, 8000, 16)), kData})},
                      Case{"ListBeforeFormat", riff({kList, kFmt, kData})},
                      Case{"DataBeforeFormat", riff({kData, kFmt})},
                      Case{"SecondFormatChunk", riff({kFmt, kFmt, kData})}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Truncated, Rejected,
    ::testing::Values(Case{"InsideRiffSize", Bytes{'R', 'I', 'F', 'F', 0x10}},
                      Case{"NoFormat", riff({})},
                      Case{"InsideFormatFields", prefix(monoWave(kSamples), 30)},
                      Case{"NoDataChunk", riff({kFmt})},
                      Case{"NoDataAfterList", riff({kFmt, kList})},
                      Case{"InsideDataHeader", concat({riff({kFmt}), Bytes{'d', 'a', 't'}})}),
    [](const auto& info) { return info.param.name; });

// A format chunk too short for its fields is rejected rather than read backwards.
INSTANTIATE_TEST_SUITE_P(ShortFormat, Rejected,
                         ::testing::Values(Case{"Size0", shortFormat(0)},
                                           Case{"Size1", shortFormat(1)},
                                           Case{"Size8", shortFormat(8)},
                                           Case{"Size14", shortFormat(14)},
                                           Case{"Size15", shortFormat(15)}),
                         [](const auto& info) { return info.param.name; });

// Sizes that run past the end of the input end the search there, without a data chunk.
INSTANTIATE_TEST_SUITE_P(
    OversizedChunk, Rejected,
    ::testing::Values(
        Case{"List2Pow31Minus1", riff({kFmt, chunkDeclared("LIST", 0x7FFFFFFF, {1, 2}), kData})},
        Case{"List2Pow31", riff({kFmt, chunkDeclared("LIST", 0x80000000u, {1, 2}), kData})},
        Case{"List2Pow32Minus1", riff({kFmt, chunkDeclared("LIST", 0xFFFFFFFFu, {1, 2}), kData})},
        Case{"Format2Pow32Minus1",
             riff({chunkDeclared("fmt ", 0xFFFFFFFFu, formatBody(1, 1, 8000, 16)), kData})}),
    [](const auto& info) { return info.param.name; });

class Accepted : public ::testing::TestWithParam<Case> {};

// Every accepted layout leads to the same fields and stops at the first sample.
TEST_P(Accepted, FindsTheDataChunk) {
    for (const Stream kind : {Stream::Seekable, Stream::Pipe}) {
        const Outcome o = readHeader(GetParam().file, kind);
        SCOPED_TRACE(kind == Stream::Seekable ? "seekable" : "pipe");
        ASSERT_EQ(o.status, kWaveOk);
        EXPECT_EQ(o.format.formatTag, 1);
        EXPECT_EQ(o.format.channels, 1);
        EXPECT_EQ(o.format.sampleRate, 8000u);
        EXPECT_EQ(o.format.byteRate, 16000u);
        EXPECT_EQ(o.format.blockAlign, 2);
        EXPECT_EQ(o.format.bitsPerSample, 16);
        EXPECT_EQ(o.dataSize, 6u);
        EXPECT_EQ(o.next, (Bytes{0x34, 0x12}));
    }
}

Bytes oddChunk(const char* tag, bool pad) {
    return chunk(tag, {'x', 'y', 'z'}, pad);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, Accepted,
    ::testing::Values(
        Case{"Canonical", monoWave(kSamples)},
        Case{"Format18", riff({chunk("fmt ", withExtra(formatBody(1, 1, 8000, 16), 2)), kData})},
        Case{"Format17Padded", riff({chunk("fmt ", withExtra(formatBody(1, 1, 8000, 16), 1)), kData})},
        Case{"Format17Unpadded",
             riff({chunk("fmt ", withExtra(formatBody(1, 1, 8000, 16), 1), false), kData})},
        Case{"ListBetween", riff({kFmt, kList, kData})},
        Case{"EmptyChunkBetween", riff({kFmt, chunk("JUNK", {}), kData})},
        Case{"OddChunkPadded", riff({kFmt, oddChunk("note", true), kData})},
        Case{"OddChunkUnpadded", riff({kFmt, oddChunk("note", false), kData})},
        Case{"SeveralChunks", riff({kFmt, oddChunk("note", true), kList, oddChunk("id3 ", false), kData})},
        Case{"RiffSizeIgnored", [] {
                 Bytes b = monoWave(kSamples);
                 b[4] = b[5] = b[6] = b[7] = 0xFF;
                 return b;
             }()}),
    [](const auto& info) { return info.param.name; });

TEST(WaveReader, ExtensibleFormatIsReadAndItsExtraBytesSkipped) {
    Bytes body = formatBody(0xFFFE, 1, 8000, 16);
    const Bytes file = riff({chunk("fmt ", withExtra(body, 24)), kData});
    const Outcome o = readHeader(file, Stream::Seekable);
    ASSERT_EQ(o.status, kWaveOk);
    EXPECT_EQ(o.format.formatTag, 0xFFFE);
    EXPECT_EQ(o.next, (Bytes{0x34, 0x12}));
}

TEST(WaveReader, DataSizeIsReportedAsDeclared) {
    const Bytes file = riff({kFmt, chunkDeclared("data", 0xFFFFFFFFu, sampleBytes(kSamples))});
    const Outcome o = readHeader(file, Stream::Pipe);
    ASSERT_EQ(o.status, kWaveOk);
    EXPECT_EQ(o.dataSize, 0xFFFFFFFFu);
}

TEST(WaveReader, NoStream) {
    WaveFormat f{};
    EXPECT_EQ(waveFileOpen(&f, nullptr), kWaveNoStream);
}

TEST(WaveReader, BytesLeft) {
    const Bytes file = monoWave(kSamples);
    FILE* fp = memoryStream(file);
    std::fgetc(fp);
    EXPECT_EQ(streamBytesLeft(fp), static_cast<int64_t>(file.size() - 1));
    EXPECT_EQ(std::fgetc(fp), file[1]) << "the position must be kept";
    std::fclose(fp);
    fp = pipeLikeStream(file);
    EXPECT_EQ(streamBytesLeft(fp), -1);
    std::fclose(fp);
}

}  // namespace
