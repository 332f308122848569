// The files, in memory: the WAVE reader on layouts built as byte arrays, whole conversions
// to the device file over every mix of streams that can and cannot seek, the decoder's
// header checks, and failed allocations, reads and writes.
#include <gtest/gtest.h>

#include "adpFile.h"
#include "codec/adpcm.h"
#include "device/conversions.h"
#include "io/ioHooks.h"
#include "io/status.h"
#include "support/testSupport.h"
#include "wave/waveFile.h"
#include "wave/waveWriter.h"

using kestrune::detail::convertAdpToWave;
using kestrune::detail::convertWaveToAdp;
using kestrune::detail::ioHooks;
using kestrune::detail::resetIoHooks;

namespace {

const Samples k1000x16(16, 1000);
const Bytes kFourBit1000 = {0x77, 0x77, 0x38, 0x08, 0x80, 0x80, 0x08, 0x80};
const Bytes kFmt = chunk("fmt ", formatBody(1, 1, 8000, 16));
const Bytes kList = chunk("LIST", {'I', 'N', 'F', 'O', 'a', 'b'});

Bytes formatOf(std::size_t size) {
    Bytes body = formatBody(1, 1, 8000, 16);
    body.resize(size, 0xA5);
    return body;
}

// Layouts of the WAVE header, read from a seekable and from a pipe-like stream: those
// accepted lead to the same six fields and stop at the first sample.
TEST(WaveReader, Layouts) {
    const Bytes data = chunk("data", sampleBytes({0x1234, -2, 3}));
    const Bytes odd = chunk("note", {'x', 'y', 'z'}),
                oddUnpadded = chunk("note", {'x', 'y', 'z'}, false);
    Bytes rifx = riff({kFmt, data}), notWave = rifx, anySize = rifx, cut = rifx;
    cut.resize(30);
    rifx[3] = 'X';
    notWave[8] = 'A';
    anySize[4] = anySize[5] = 0xFF;
    const struct {
        const char* name;
        Bytes file;
        bool accepted;
    } cases[] = {
        {"canonical", riff({kFmt, data}), true},
        {"RIFF size ignored", anySize, true},
        {"format 18", riff({chunk("fmt ", formatOf(18)), data}), true},
        {"format 17 padded", riff({chunk("fmt ", formatOf(17)), data}), true},
        {"format 17 unpadded", riff({chunk("fmt ", formatOf(17), false), data}), true},
        {"chunks between", riff({kFmt, odd, kList, chunk("JUNK", {}), oddUnpadded, data}), true},
        {"a chunk over 2^16 between", riff({kFmt, chunk("JUNK", Bytes(0x10203, 7)), data}), true},
        {"empty", {}, false},
        {"RIFX", rifx, false},
        {"not WAVE", notWave, false},
        {"list before format", riff({kList, kFmt, data}), false},
        {"second format", riff({kFmt, kFmt, data}), false},
        {"no data", riff({kFmt, kList}), false},
        {"format 15", riff({chunk("fmt ", formatOf(15)), data}), false},
        {"format 0", riff({chunk("fmt ", formatOf(0)), data}), false},
        {"cut in the format", cut, false},
        {"list 2^31", riff({kFmt, chunk("LIST", {1, 2}, true, 0x80000000u), data}), false},
        {"list 2^32-1", riff({kFmt, chunk("LIST", {1, 2}, true, 0xFFFFFFFFu), data}), false},
        {"format 2^32-1", riff({chunk("fmt ", formatOf(16), true, 0xFFFFFFFFu), data}), false},
    };
    for (const auto& c : cases) {
        for (const bool seekable : {true, false}) {
            SCOPED_TRACE(testing::Message() << c.name << (seekable ? " seekable" : " pipe"));
            FILE* fp = seekable ? memoryStream(c.file) : pipeLikeStream(c.file);
            WaveFormat f{};
            uint32_t dataSize = 0;
            const int16_t status = waveFileOpen(&f, fp, &dataSize);
            uint8_t next[2] = {};
            const std::size_t got = std::fread(next, 1, 2, fp);
            std::fclose(fp);
            EXPECT_EQ(status, c.accepted ? kWaveOk : kWaveBadStructure);
            if (!c.accepted) continue;
            EXPECT_EQ(std::tie(f.formatTag, f.channels, f.sampleRate, f.byteRate, f.blockAlign,
                               f.bitsPerSample),
                      std::make_tuple(1, 1, 8000u, 16000u, 2, 16));
            EXPECT_EQ(dataSize, 6u);
            EXPECT_EQ(Bytes(next, next + got), (Bytes{0x34, 0x12}));
        }
    }
    WaveFormat f{};
    EXPECT_EQ(waveFileOpen(&f, nullptr), kWaveNoStream);
}

struct Result {
    int status;
    Bytes file;
};

// Converts from an input that can seek or not, onto an output that can seek or not.
Result convert(const Bytes& wav, uint8_t variant, bool seekIn, bool seekOut,
               bool failAtEnd = false) {
    FILE* from = seekIn ? memoryStream(wav) : pipeLikeStream(wav, failAtEnd);
    Result r{0, {}};
    FILE* to = seekOut ? std::tmpfile() : pipeLikeSink(&r.file);
    r.status = convertWaveToAdp(from, to, seekOut, variant).status();
    if (seekOut) {
        std::rewind(to);
        for (int c; (c = std::fgetc(to)) != EOF;) r.file.push_back(static_cast<uint8_t>(c));
    }
    std::fclose(to);
    std::fclose(from);
    return r;
}

// The four combinations must agree.
Result convertEveryWay(const Bytes& wav, uint8_t variant) {
    const Result first = convert(wav, variant, true, true);
    for (const int way : {1, 2, 3}) {
        const Result r = convert(wav, variant, way & 1, way & 2);
        EXPECT_EQ(r.status, first.status) << way;
        if (r.status == kStatusFinished) {
            EXPECT_EQ(r.file, first.file) << way;
        }
    }
    return first;
}

TEST(Conversion, KnownAnswers) {
    const Bytes data = sampleBytes(k1000x16);
    Bytes odd = data;
    odd.push_back(0x55);
    Samples longer = k1000x16;
    longer.resize(24, -20000);
    const struct {
        const char* name;
        Bytes wav;
        uint8_t variant;
        Bytes expected;
    } cases[] = {
        {"4-bit", monoWave(k1000x16, 8000), kVariant4Bit, adpFile(8000, true, kFourBit1000)},
        {"2-bit", monoWave(k1000x16, 16000), kVariant2Bit,
         adpFile(16000, false, {0x55, 0x55, 0x56, 0x22})},
        {"empty data", monoWave({}, 4000), kVariant4Bit, adpFile(4000, true, {})},
        {"five samples", monoWave(Samples(5, 1000)), kVariant4Bit,
         adpFile(8000, true, {0x77, 0x77})},
        {"six samples", monoWave(Samples(6, 1000)), kVariant2Bit, adpFile(8000, false, {0x55})},
        // Only the data chunk is audio; a size past the input's end ends there.
        {"trailing LIST", riff({kFmt, chunk("data", data), chunk("LIST", Bytes(26, 'i'))}),
         kVariant4Bit, adpFile(8000, true, kFourBit1000)},
        {"odd size", riff({kFmt, chunk("data", odd)}), kVariant4Bit,
         adpFile(8000, true, kFourBit1000)},
        {"placeholder size", riff({kFmt, chunk("data", data, true, 0xFFFFFFFFu)}), kVariant4Bit,
         adpFile(8000, true, kFourBit1000)},
        {"truncated", riff({kFmt, chunk("data", data, true, 1000)}), kVariant4Bit,
         adpFile(8000, true, kFourBit1000)},
        {"size below the rest", riff({kFmt, chunk("data", sampleBytes(longer), true, 32)}),
         kVariant4Bit, adpFile(8000, true, kFourBit1000)},
    };
    for (const auto& c : cases) {
        const Result r = convertEveryWay(c.wav, c.variant);
        EXPECT_EQ(r.status, kStatusFinished) << c.name;
        EXPECT_EQ(r.file, c.expected) << c.name;
    }
    for (const uint32_t rate : {4000, 5300, 6400, 8000, 10600, 12800, 16000, 32000}) {
        EXPECT_EQ(convertEveryWay(monoWave(k1000x16, rate), kVariant2Bit).file,
                  adpFile(rate, false, {0x55, 0x55, 0x56, 0x22}));
    }
}

// Inputs refused, in the order the checks run: structure, tag, channels, rate, width.
TEST(Conversion, RefusedInputs) {
    const Bytes data = chunk("data", sampleBytes(k1000x16));
    const auto wav = [&](uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
        return riff({chunk("fmt ", formatBody(tag, channels, rate, bits)), data});
    };
    const struct {
        Bytes wav;
        int status;
    } cases[] = {
        {Bytes(100, 'a'), kStatusFormat},          {wav(3, 1, 8000, 32), kStatusFormat},
        {wav(0xFFFE, 1, 8000, 16), kStatusFormat}, {wav(1, 2, 8000, 16), kStatusFormat},
        {wav(1, 0, 8000, 16), kStatusFormat},      {wav(1, 2, 44100, 16), kStatusFormat},
        {wav(1, 1, 44100, 16), kStatusRate},       {wav(1, 1, 8000 + 65536, 16), kStatusRate},
        {wav(1, 1, 7999, 8), kStatusRate},         {wav(1, 1, 8000, 8), kStatusFormat},
        {wav(1, 1, 5300, 24), kStatusFormat},
    };
    for (const auto& c : cases) EXPECT_EQ(convertEveryWay(c.wav, kVariant4Bit).status, c.status);
}

TEST(AdpHeader, Bytes) {
    uint8_t h[kAdpHeaderSize];
    EXPECT_EQ(makeAdpHeader(100, 8000, kVariant4Bit, h), 0);
    EXPECT_EQ(Bytes(h, h + 16), (Bytes{0x41, 0x75, 0x64, 0x69, 0x80, 0x01, 0x01, 0x04, 0x1F, 0x40,
                                       0x00, 0x00, 0x00, 0x00, 0x00, 0x64}));
    makeAdpHeader(0x01020304, 32000, kVariant2Bit, h);
    EXPECT_EQ(Bytes(h, h + 16), Bytes(adpFile(32000, false, {}, 0x01020304)));
    makeAdpHeader(-1, 4000, 5, h);  // another variant describes no code
    EXPECT_EQ(Bytes(h + 4, h + 16), (Bytes{0, 0, 1, 0, 0x0F, 0xA0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
}

// The decoder's WAVE header, canonical, and RF64 past 32-bit sizes.
TEST(WaveHeader, Bytes) {
    const auto le = [](uint64_t v, int n) {
        Bytes b;
        for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return b;
    };
    const auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const uint64_t big = 0x123456789A;
    const struct {
        uint64_t dataBytes;
        Bytes expected;
    } rows[] = {
        {100, cat({riff({chunk("fmt ", formatBody(1, 1, 16000, 16))}), Bytes{'d', 'a', 't', 'a'},
                   le(100, 4)})},
        {big, cat({Bytes{'R', 'F', '6', '4'}, le(0xFFFFFFFF, 4), Bytes{'W', 'A', 'V', 'E'},
                   chunk("ds64", cat({le(72 + big, 8), le(big, 8), le(big / 2, 8), le(0, 4)})),
                   chunk("fmt ", formatBody(1, 1, 16000, 16)), Bytes{'d', 'a', 't', 'a'},
                   le(0xFFFFFFFF, 4)})},
    };
    for (const auto& r : rows) {
        uint8_t h[kMaxWaveHeaderSize];
        Bytes expected = r.expected;
        if (r.dataBytes == 100) std::copy_n(le(136, 4).begin(), 4, expected.begin() + 4);
        EXPECT_EQ(Bytes(h, h + makeWaveHeader(16000, r.dataBytes, h)), expected);
    }
}

struct Decoded {
    int status;
    std::string problem;
    Bytes wav;
};

Decoded decode(const Bytes& adp, bool seekable, bool failAtEnd = false) {
    FILE* from = seekable ? memoryStream(adp) : pipeLikeStream(adp, failAtEnd);
    Decoded d{0, "", {}};
    FILE* to = pipeLikeSink(&d.wav);
    const kestrune::detail::Done done = convertAdpToWave(from, to);
    d.status = done.status();
    d.problem = done.failure().reason;
    std::fclose(to);
    std::fclose(from);
    return d;
}

// Every header problem is named; bytes after the payload are ignored.
TEST(Decoding, Headers) {
    const Bytes good = adpFile(8000, true, {0x77, 0x77});
    const auto with = [&](std::size_t at, std::initializer_list<uint8_t> bytes) {
        Bytes b = good;
        std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
        return b;
    };
    const std::string shortHeader = "too short for a device file's 16-byte header",
                      noMark = "not a device file (no \"Audi\" mark)",
                      unknown = "not a device file (unknown code description in bytes 4-7)",
                      shortPayload = "payload shorter than its length field";
    const struct {
        Bytes file;
        std::string problem;  // none: decoded to `wav`
        Bytes wav;
    } cases[] = {
        {adpFile(8000, true, {0x77, 0x77, 1, 2, 3}, 2), "", monoWave({30, 98, 258, 636}, 8000)},
        {adpFile(4000, false, {}), "", monoWave({}, 4000)},
        {{}, shortHeader, {}},
        {Bytes(good.begin(), good.begin() + 15), shortHeader, {}},
        {with(0, {'a'}), noMark, {}},
        {monoWave(k1000x16), noMark, {}},
        {with(4, {0x80, 0x01, 0x01, 0x02}), unknown, {}},
        {with(4, {0x80, 0x00, 0x01, 0x04}), unknown, {}},
        {with(6, {0x00}), unknown, {}},
        {with(8, {0, 0}), "not a device file (sample rate 0)", {}},
        {Bytes(good.begin(), good.end() - 1), shortPayload, {}},
        // A length's top byte is byte 12: 2^24 + 2 bytes are not there.
        {adpFile(8000, true, {0x77, 0x77}, 0x01000002), shortPayload, {}},
        // A payload whose samples a WAVE file's 32-bit sizes cannot hold.
        {adpFile(8000, true, {}, 0x40000000), "payload too long for a WAVE file", {}},
    };
    for (const auto& c : cases) {
        for (const bool seekable : {true, false}) {
            const Decoded d = decode(c.file, seekable);
            EXPECT_EQ(d.status, c.problem.empty() ? kStatusFinished : kStatusFormat) << c.problem;
            EXPECT_EQ(d.problem, c.problem) << (seekable ? "seekable" : "pipe");
            // A file that tells its length is refused before anything is written.
            EXPECT_EQ(d.wav, c.problem.empty() ? c.wav : seekable ? Bytes{} : d.wav);
        }
    }
}

// A read that fails on a pipe is an error, not the end of the stream; codes held for a
// pipe that cannot grow are a memory error.
TEST(Conversion, ReadFaultsAndHeldCodes) {
    const Bytes wav = riff({kFmt, chunk("data", sampleBytes(k1000x16), true, 0xFFFFFFFFu)});
    EXPECT_EQ(convert(wav, kVariant4Bit, false, false, true).status, kStatusRead);
    EXPECT_EQ(decode(adpFile(8000, true, {0x77}, 2), false, true).status, kStatusRead);
    ioHooks.reallocate = [](void*, std::size_t) -> void* { return nullptr; };
    EXPECT_EQ(convert(wav, kVariant4Bit, false, false).status, kStatusMemory);
    EXPECT_EQ(convert(wav, kVariant4Bit, false, true).status, kStatusFinished)
        << "a seekable output needs no held codes";
    resetIoHooks();
}

}  // namespace
