// kestrune-adpcm-dec run as a script runs it, on files the encoder made and on damaged
// headers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "codec/adpcm.h"
#include "support/testSupport.h"

namespace {

const std::string kEnc = KESTRUNE_ENC;
const std::string kDec = KESTRUNE_DEC;
const std::string kUsage =
    "PARAMETER ERROR!!!\n"
    "kestrune-adpcm-dec <Input Adpcm File> <Output Pcm File>\n";
const std::string kFinished = "CONVERT FINISHED!!\n";
const std::string kFormatError = "INPUT FILE FORMAT ERROR!!!\n";

std::vector<int16_t> speechLike(std::size_t n) {
    std::vector<int16_t> s(n);
    uint32_t x = 99;
    for (std::size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        const double noise = static_cast<double>((x >> 16) & 0x7FF) - 1024.0;
        s[i] = static_cast<int16_t>(7000 * std::sin(0.021 * i) * std::sin(0.0007 * i) + noise);
    }
    return s;
}

// What the device plays: the encoder's own reconstruction of every sample that made it
// into a whole byte.
std::vector<int16_t> reconstruction(const std::vector<int16_t>& samples, uint8_t variant) {
    AdpcmParam p{};
    std::vector<int16_t> out;
    const std::size_t whole = samples.size() / count[variant] * count[variant];
    for (std::size_t i = 0; i < whole; ++i) {
        p.pcm = samples[i];
        enc(variant, &p);
        out.push_back(static_cast<int16_t>(p.pcm));
    }
    return out;
}

Bytes canonicalWave(uint32_t rate, const std::vector<int16_t>& samples) {
    return riff({chunk("fmt ", formatBody(1, 1, rate, 16)), chunk("data", sampleBytes(samples))});
}

class DecoderTool : public ::testing::Test {
protected:
    TempDir dir;
    std::string wav = dir.file("in.wav");
    std::string adp = dir.file("in.adp");
    std::string out = dir.file("out.wav");

    void expectFinished(const RunResult& r) {
        EXPECT_EQ(r.out, kFinished);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 0);
    }

    void expectFailure(const RunResult& r, const std::string& message) {
        EXPECT_EQ(r.out, message);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 1);
    }
};

TEST_F(DecoderTool, ConverterOutputDecodesToTheEncodersReconstruction) {
    const std::vector<int16_t> samples = speechLike(30001);
    for (const auto& [method, variant, rate] :
         {std::tuple{"4ADP2", kVariant4Bit, 8000u}, std::tuple{"2ADP2", kVariant2Bit, 32000u}}) {
        SCOPED_TRACE(method);
        writeFile(wav, monoWave(samples, rate));
        expectFinished(runTool(kEnc, {wav, adp, method}));
        expectFinished(runTool(kDec, {adp, out}));
        EXPECT_EQ(readFile(out), canonicalWave(rate, reconstruction(samples, variant)));
    }
}

// The README's example: the bundled prompt survives a round trip as recognisable speech.
TEST_F(DecoderTool, BundledPromptRoundTrip) {
    const Bytes wave = readFile(KESTRUNE_EXAMPLE);
    ASSERT_GT(wave.size(), 44u);
    std::vector<int16_t> original((wave.size() - 44) / 2);
    std::memcpy(original.data(), wave.data() + 44, original.size() * 2);
    for (const auto& [method, perByte, minimumSnr] :
         {std::tuple{"4ADP2", 2u, 20.0}, std::tuple{"2ADP2", 4u, 10.0}}) {
        SCOPED_TRACE(method);
        expectFinished(runTool(kEnc, {KESTRUNE_EXAMPLE, adp, method}));
        expectFinished(runTool(kDec, {adp, out}));
        const Bytes decoded = readFile(out);
        ASSERT_EQ(decoded.size(), 44 + original.size() / perByte * perByte * 2);
        double signal = 0, noise = 0;
        for (std::size_t i = 0; i + 44 < decoded.size() && i / 2 < original.size(); i += 2) {
            const auto y = static_cast<int16_t>(decoded[44 + i] | (decoded[45 + i] << 8));
            const double x = original[i / 2];
            signal += x * x;
            noise += (x - y) * (x - y);
        }
        EXPECT_GT(10 * std::log10(signal / noise), minimumSnr);
    }
}

TEST_F(DecoderTool, PeersReadTheOutput) {
    writeFile(wav, monoWave(speechLike(16000), 16000));
    expectFinished(runTool(kEnc, {wav, adp, "4ADP2"}));
    expectFinished(runTool(kDec, {adp, out}));
    int ran = 0;
    if (haveProgram("soxi")) {
        ++ran;
        EXPECT_EQ(shell("test \"$(soxi -r '" + out + "') $(soxi -c '" + out + "') $(soxi -s '" +
                        out + "')\" = '16000 1 16000'"),
                  0);
    }
    if (haveProgram("ffprobe")) {
        ++ran;
        EXPECT_EQ(shell("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels "
                        "-of csv=p=0 '" +
                        out + "' | grep -qx 'pcm_s16le,16000,1'"),
                  0);
    }
    if (ran == 0) GTEST_SKIP() << "neither sox nor ffmpeg is installed";
}

TEST_F(DecoderTool, BytesAfterThePayloadAreIgnored) {
    Bytes file = adpFile(8000, true, {0x77, 0x77});
    writeFile(adp, file);
    expectFinished(runTool(kDec, {adp, out}));
    const Bytes expected = readFile(out);
    file.insert(file.end(), {1, 2, 3});
    writeFile(adp, file);
    expectFinished(runTool(kDec, {adp, out}));
    EXPECT_EQ(readFile(out), expected);
    EXPECT_EQ(expected, canonicalWave(8000, {30, 98, 258, 636}));
}

TEST_F(DecoderTool, EmptyPayload) {
    writeFile(adp, adpFile(4000, false, {}));
    expectFinished(runTool(kDec, {adp, out}));
    EXPECT_EQ(readFile(out), canonicalWave(4000, {}));
}

Bytes withHeaderBytes(Bytes file, std::size_t at, std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
    return file;
}

TEST_F(DecoderTool, BadHeadersLeaveNoOutput) {
    const Bytes good = adpFile(8000, true, {0x77, 0x77});
    Bytes shortPayload = good;
    shortPayload.pop_back();
    struct Case {
        const char* name;
        Bytes file;
    } cases[] = {
        {"empty", {}},
        {"ten bytes", Bytes(good.begin(), good.begin() + 10)},
        {"magic", withHeaderBytes(good, 0, {'a'})},
        {"a WAVE file", canonicalWave(8000, {1, 2, 3, 4, 5, 6, 7, 8})},
        {"4-bit marker with 2-bit width", withHeaderBytes(good, 4, {0x80, 0x01, 0x01, 0x02})},
        {"2-bit marker with 4-bit width", withHeaderBytes(good, 4, {0x80, 0x00, 0x01, 0x04})},
        {"byte 4 not 0x80", withHeaderBytes(good, 4, {0x00})},
        {"byte 6 not 1", withHeaderBytes(good, 6, {0x00})},
        {"rate 0", withHeaderBytes(good, 8, {0x00, 0x00})},
        {"payload shorter than its length", shortPayload},
        {"length beyond a WAVE file", withHeaderBytes(good, 12, {0xFF, 0xFF, 0xFF, 0xFF})},
    };
    const Bytes old = {'o', 'l', 'd'};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(adp, c.file);
        expectFailure(runTool(kDec, {adp, out}), kFormatError);
        EXPECT_FALSE(fileExists(out));
        writeFile(out, old);
        expectFailure(runTool(kDec, {adp, out}), kFormatError);
        EXPECT_EQ(readFile(out), old);
        unlink(out.c_str());
        EXPECT_EQ(dir.entries().size(), 1u) << "no temporary file is left";

        // The same through a pipe, where a short payload shows only at its end.
        RunOptions piped;
        piped.stdinBytes = &c.file;
        expectFailure(runTool(kDec, {"/dev/stdin", out}, piped), kFormatError);
        EXPECT_FALSE(fileExists(out));
    }
}

TEST_F(DecoderTool, PipeInputDecodesLikeAFile) {
    writeFile(wav, monoWave(speechLike(5000), 12800));
    expectFinished(runTool(kEnc, {wav, adp, "2ADP2"}));
    expectFinished(runTool(kDec, {adp, out}));
    const Bytes direct = readFile(out);
    const Bytes file = readFile(adp);
    RunOptions piped;
    piped.stdinBytes = &file;
    const std::string viaPipe = dir.file("pipe.wav");
    expectFinished(runTool(kDec, {"/dev/stdin", viaPipe}, piped));
    EXPECT_EQ(readFile(viaPipe), direct);
}

TEST_F(DecoderTool, UsageAndOpenFailures) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {adp}, {adp, out, "4ADP2"}}) {
        const RunResult r = runTool(kDec, args);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 2);
    }
    expectFailure(runTool(kDec, {dir.file("missing.adp"), out}), "INPUT FILE OPEN ERROR!!!!\n");
    writeFile(adp, adpFile(8000, true, {0x77}));
    expectFailure(runTool(kDec, {adp, dir.file("no/such/out.wav")}),
                  "OUTPUT FILE OPEN ERROR!!!!\n");
    ASSERT_EQ(link(adp.c_str(), dir.file("hard.adp").c_str()), 0);
    expectFailure(runTool(kDec, {adp, dir.file("hard.adp")}), "OUTPUT FILE OPEN ERROR!!!!\n");
    EXPECT_EQ(readFile(adp), adpFile(8000, true, {0x77}));
    EXPECT_FALSE(fileExists(out));
}

}  // namespace
