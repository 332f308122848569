// kestrune-adpcm-enc and kestrune-adpcm-dec run as a script runs them: the exact status
// line, exit status and output bytes of each outcome, nothing else printed, and on a
// failure no output left and an existing one untouched.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
                EXPECT_NE(access(out.c_str(), F_OK), 0) << "no output may be left";
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

// A full device is a write error; the device is the test's own, since the machine's
// /dev/full could be replaced by a faulty output path running as root.
TEST_F(LegacyTools, FullDeviceIsAWriteError) {
    const std::string full = dir.file("full");
    if (!makeDeviceNode(full, 1, 7)) GTEST_SKIP() << "mknod is not allowed here";
    expectRun(kEnc, {in, full, "4ADP2"}, monoWave(k1000x16), "Write error!\n", 1, nullptr);
    expectRun(kDec, {in, full}, adpFile(8000, true, {0x77}), "Write error!\n", 1, nullptr);
    struct stat st {};
    EXPECT_TRUE(lstat(full.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) << "the device was replaced";
}

// The test builds of the tools fail every allocation, read, or close of the output.
TEST_F(LegacyTools, InjectedFaults) {
    const Bytes wav = monoWave(hostileSignal(40, 1)), adp = adpFile(8000, true, Bytes(20, 0x37));
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

}  // namespace
