// kestrune-adpcm-enc and kestrune-adpcm-dec run as a script runs them: the exact status
// line, exit status and output bytes of each outcome, nothing else printed, and on a
// failure no output left and an existing one untouched.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "codec/adpcm.h"
#include "support/testSupport.h"

namespace {

const std::string kEnc = KESTRUNE_ENC, kDec = KESTRUNE_DEC;
const std::string kFinished = "CONVERT FINISHED!!\n", kFormat = "INPUT FILE FORMAT ERROR!!!\n",
                  kOutputOpen = "OUTPUT FILE OPEN ERROR!!!!\n";
const std::string kEncUsage =
    "PARAMETER ERROR!!!\nKestruneAdpcmEnc.exe <Input Pcm File> <Output Adpcm File> <Method>\n"
    "  Method : [2ADP2]or[4ADP2]\n";
const std::string kDecUsage =
    "PARAMETER ERROR!!!\nkestrune-adpcm-dec <Input Adpcm File> <Output Pcm File>\n";
const Samples k1000x16(16, 1000);
const Bytes kOld = {'o', 'l', 'd'};

Samples tone(std::size_t n) {
    Samples s(n);
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<int16_t>(9000 * std::sin(0.03 * i) + 3000 * std::sin(0.7 * i));
    }
    return s;
}

class LegacyTools : public ::testing::Test {
protected:
    TempDir dir;
    std::string in = dir.file("in"), out = dir.file("out");

    // Runs the tool over `input` twice, without and with an existing output, and checks
    // the line, the status, and the output: `expected`, or on a failure none (or the old).
    void expectRun(const std::string& tool, const std::vector<std::string>& args,
                   const Bytes& input, const std::string& line, int exitCode, const Bytes* expected,
                   const RunOptions& options = {}) {
        writeFile(in, input);
        for (const bool existing : {false, true}) {
            SCOPED_TRACE(existing ? "over an existing output" : "no output before");
            if (existing) writeFile(out, kOld);
            const RunResult r = runTool(tool, args, options);
            EXPECT_EQ(r.out, line);
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.exitCode, exitCode);
            if (expected != nullptr) {
                EXPECT_EQ(readFile(out), *expected);
            } else if (existing) {
                EXPECT_EQ(readFile(out), kOld);
            } else {
                EXPECT_FALSE(fileExists(out));
            }
            for (const std::string& name : dir.entries()) {
                EXPECT_NE(name.rfind(".kestrune-", 0), 0u) << "temporary file left: " << name;
            }
            unlink(out.c_str());
        }
    }
};

TEST_F(LegacyTools, Outcomes) {
    const Bytes four = adpFile(8000, true, {0x77, 0x77, 0x38, 0x08, 0x80, 0x80, 0x08, 0x80});
    const Bytes two = adpFile(16000, false, {0x55, 0x55, 0x56, 0x22});
    const Bytes decoded = monoWave({30, 98, 258, 636}, 8000);
    const Bytes stereo = riff({chunk("fmt ", formatBody(1, 2, 8000, 16)), chunk("data", {})});
    const std::string& n = kFinished;
    const struct {
        const std::string& tool;
        std::vector<std::string> args;
        Bytes input;
        const std::string& line;
        int exitCode;
        const Bytes* expected;
    } cases[] = {
        {kEnc, {in, out, "4ADP2"}, monoWave(k1000x16, 8000), n, 0, &four},
        {kEnc, {in, out, "4ADP2x"}, monoWave(k1000x16, 8000), n, 0, &four},
        {kEnc, {in, out, "2ADP2"}, monoWave(k1000x16, 16000), n, 0, &two},
        {kDec, {in, out}, adpFile(8000, true, {0x77, 0x77}), n, 0, &decoded},
        {kEnc, {in, out, "4ADP2"}, stereo, kFormat, 1, nullptr},
        {kEnc,
         {in, out, "2ADP2"},
         monoWave(k1000x16, 44100),
         "sampling frequency error!!!\n",
         1,
         nullptr},
        {kDec, {in, out}, monoWave(k1000x16), kFormat, 1, nullptr},
        {kEnc, {dir.file("none"), out, "4ADP2"}, {}, "INPUT FILE OPEN ERROR!!!!\n", 1, nullptr},
        {kDec, {dir.path, out}, {}, "INPUT FILE OPEN ERROR!!!!\n", 1, nullptr},
        {kEnc, {in, dir.file("no/out"), "4ADP2"}, monoWave(k1000x16), kOutputOpen, 1, nullptr},
        {kEnc, {in, "", "4ADP2"}, monoWave(k1000x16), kOutputOpen, 1, nullptr},
        {kDec, {in, dir.path + "/"}, adpFile(8000, true, {}), kOutputOpen, 1, nullptr},
        {kEnc, {in, "/dev/full", "4ADP2"}, monoWave(k1000x16), "Write error!\n", 1, nullptr},
        {kDec, {in, "/dev/full"}, adpFile(8000, true, {0x77}), "Write error!\n", 1, nullptr},
        {kEnc, {}, {}, kEncUsage, 2, nullptr},
        {kEnc, {in, out}, {}, kEncUsage, 2, nullptr},
        {kEnc, {in, out, "4ADP2", "x"}, {}, kEncUsage, 2, nullptr},
        {kEnc, {in, out, "4adp2"}, {}, kEncUsage, 2, nullptr},
        {kEnc, {in, out, "4ADP"}, {}, kEncUsage, 2, nullptr},
        {kDec, {in}, {}, kDecUsage, 2, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " -> " + c.line);
        expectRun(c.tool, c.args, c.input, c.line, c.exitCode, c.expected);
    }
}

// The test builds of the tools fail every allocation, read, or close of the output.
TEST_F(LegacyTools, InjectedFaults) {
    const Bytes wav = monoWave(tone(40)), adp = adpFile(8000, true, Bytes(20, 0x37));
    for (const auto& [fault, line] :
         {std::pair{"alloc", "Memory isn't enough !!\n"}, std::pair{"read", "Read error!\n"},
          std::pair{"close", "Write error!\n"}}) {
        SCOPED_TRACE(fault);
        RunOptions o;
        o.env = {std::string("KESTRUNE_FAULT=") + fault};
        expectRun(KESTRUNE_ENC_FAULTS, {in, out, "2ADP2"}, wav, line, 1, nullptr, o);
        expectRun(KESTRUNE_DEC_FAULTS, {in, out}, adp, line, 1, nullptr, o);
        o.stdinBytes = &wav;
        expectRun(KESTRUNE_ENC_FAULTS, {"/dev/stdin", out, "4ADP2"}, {}, line, 1, nullptr, o);
    }
}

// Pipes in and out, placeholder sizes and chunks around the data, and a FIFO both ways,
// give the bytes a file gives.
TEST_F(LegacyTools, PipesGiveWhatFilesGive) {
    const Bytes fmt = chunk("fmt ", formatBody(1, 1, 16000, 16));
    const Bytes wav = monoWave(tone(100001), 16000);
    writeFile(in, wav);
    ASSERT_EQ(runTool(kEnc, {in, out, "4ADP2"}).out, kFinished);
    const Bytes direct = readFile(out);
    ASSERT_EQ(direct.size(), 16u + 50000u);
    // A streaming writer's placeholder size, after an odd chunk without its pad byte.
    const Bytes streamed = riff({fmt, chunk("LIST", Bytes(4001, 'x'), false),
                                 chunk("data", sampleBytes(tone(100001)), true, 0xFFFFFFFFu)});
    RunOptions piped;
    piped.stdinBytes = &streamed;
    EXPECT_EQ(runTool(kEnc, {"/dev/stdin", out, "4ADP2"}, piped).out, kFinished);
    EXPECT_EQ(readFile(out), direct);
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
    EXPECT_EQ(shell("cd '" + dir.path + "'; cat fifo > piped & cat in | '" + kEnc +
                    "' /dev/stdin fifo 4ADP2 > msg; wait; cmp piped out && grep -qx 'CONVERT "
                    "FINISHED!!' msg && cat out | '" +
                    kDec +
                    "' /dev/stdin dec >/dev/null &&"
                    "'" +
                    kDec + "' out dec2 >/dev/null && cmp dec dec2"),
              0);
}

// The README's example: the bundled prompt decodes to what the encoder reconstructed.
TEST_F(LegacyTools, BundledPromptRoundTrip) {
    const Bytes wave = readFile(KESTRUNE_EXAMPLE);
    Samples original((wave.size() - 44) / 2);
    std::memcpy(original.data(), wave.data() + 44, original.size() * 2);
    for (const auto& [method, variant] :
         {std::pair{"4ADP2", kVariant4Bit}, std::pair{"2ADP2", kVariant2Bit}}) {
        ASSERT_EQ(runTool(kEnc, {KESTRUNE_EXAMPLE, out, method}).out, kFinished);
        ASSERT_EQ(runTool(kDec, {out, in}).out, kFinished);
        Samples played;
        AdpcmParam p{};
        for (std::size_t i = 0; i < original.size() / count[variant] * count[variant]; ++i) {
            p.pcm = original[i];
            enc(variant, &p);
            played.push_back(static_cast<int16_t>(p.pcm));
        }
        EXPECT_EQ(readFile(in), monoWave(played, 16000)) << method;
    }
}

}  // namespace
