// kestrune-adpcm-enc run as a script runs it: exact standard output, empty standard
// error, exit status, and the files it leaves behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "support/testSupport.h"

namespace {

const std::string kEnc = KESTRUNE_ENC;
const std::string kUsage =
    "PARAMETER ERROR!!!\n"
    "KestruneAdpcmEnc.exe <Input Pcm File> <Output Adpcm File> <Method>\n"
    "  Method : [2ADP2]or[4ADP2]\n";
const std::string kFinished = "CONVERT FINISHED!!\n";
const std::string kFormatError = "INPUT FILE FORMAT ERROR!!!\n";
const std::string kRateError = "sampling frequency error!!!\n";
const std::string kInputOpenError = "INPUT FILE OPEN ERROR!!!!\n";
const std::string kOutputOpenError = "OUTPUT FILE OPEN ERROR!!!!\n";

const std::vector<int16_t> k1000x16(16, 1000);
const Bytes kFourBit1000 = adpFile(8000, true, {0x77, 0x77, 0x38, 0x08, 0x80, 0x80, 0x08, 0x80});
const Bytes kTwoBit1000 = adpFile(16000, false, {0x55, 0x55, 0x56, 0x22});
const Bytes kOldOutput = {'o', 'l', 'd'};

std::vector<int16_t> tone(std::size_t n) {
    std::vector<int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<int16_t>(9000 * std::sin(0.03 * i) + 3000 * std::sin(0.7 * i));
    }
    return s;
}

class EncoderTool : public ::testing::Test {
protected:
    TempDir dir;
    std::string in = dir.file("in.wav");
    std::string out = dir.file("out.adp");

    RunResult enc(const std::vector<std::string>& args, const RunOptions& options = {}) {
        return runTool(kEnc, args, options);
    }

    // A failed run prints its line, exits 1 and leaves the folder as it was.
    void expectFailure(const RunResult& r, const std::string& message,
                       const std::vector<std::string>& entriesBefore) {
        EXPECT_EQ(r.out, message);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 1);
        auto after = dir.entries();
        auto before = entriesBefore;
        std::sort(after.begin(), after.end());
        std::sort(before.begin(), before.end());
        EXPECT_EQ(after, before) << "no output or temporary file may be left";
    }

    void expectFinished(const RunResult& r) {
        EXPECT_EQ(r.out, kFinished);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 0);
    }
};

TEST_F(EncoderTool, WholeFiles) {
    writeFile(in, monoWave(k1000x16, 8000));
    expectFinished(enc({in, out, "4ADP2"}));
    EXPECT_EQ(readFile(out), kFourBit1000);

    writeFile(in, monoWave(k1000x16, 16000));
    expectFinished(enc({in, out, "2ADP2"}));
    EXPECT_EQ(readFile(out), kTwoBit1000);
    EXPECT_EQ(dir.entries().size(), 2u) << "no temporary file is left";
}

TEST_F(EncoderTool, UsageErrorsTouchNoFile) {
    writeFile(in, monoWave(k1000x16));
    const std::vector<std::vector<std::string>> calls = {
        {},
        {in},
        {in, out},
        {in, out, "4ADP2", "extra"},
        {in, out, "4adp2"},
        {in, out, "4ADP"},
        {in, out, ""},
        {in, out, "3ADP2"},
        {in, out, " 4ADP2"},
    };
    for (const auto& args : calls) {
        const RunResult r = enc(args);
        EXPECT_EQ(r.out, kUsage) << args.size();
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_FALSE(fileExists(out));
    }
}

TEST_F(EncoderTool, MethodIsMatchedOnItsFirstFiveBytes) {
    writeFile(in, monoWave(k1000x16, 8000));
    expectFinished(enc({in, out, "4ADP2x"}));
    EXPECT_EQ(readFile(out), kFourBit1000);
}

TEST_F(EncoderTool, UsageShowsTheFixedNameWhateverTheToolIsCalled) {
    const std::string renamed = dir.file("other-name");
    ASSERT_EQ(symlink(kEnc.c_str(), renamed.c_str()), 0);
    EXPECT_EQ(runTool(renamed, {}).out, kUsage);
}

TEST_F(EncoderTool, InputThatCannotBeOpened) {
    expectFailure(enc({dir.file("missing.wav"), out, "4ADP2"}), kInputOpenError, {});
}

TEST_F(EncoderTool, OutputThatCannotBeCreated) {
    writeFile(in, monoWave(k1000x16));
    expectFailure(enc({in, dir.file("no/such/folder.adp"), "4ADP2"}), kOutputOpenError, {"in.wav"});
    expectFailure(enc({in, "", "4ADP2"}), kOutputOpenError, {"in.wav"});
    ASSERT_EQ(mkdir(dir.file("out.adp").c_str(), 0755), 0);
    expectFailure(enc({in, out, "4ADP2"}), kOutputOpenError, {"in.wav", "out.adp"});
}

TEST_F(EncoderTool, OutputOpenErrorComesBeforeTheInputIsRead) {
    writeFile(in, Bytes{'n', 'o', 't', ' ', 'w', 'a', 'v'});
    expectFailure(enc({in, dir.file("no/folder.adp"), "4ADP2"}), kOutputOpenError, {"in.wav"});
}

TEST_F(EncoderTool, OutputWithoutWritePermission) {
    writeFile(in, monoWave(k1000x16));
    writeFile(out, kOldOutput);
    chmod(out.c_str(), 0444);
    RunOptions unprivileged;
    unprivileged.asUnprivileged = true;
    expectFailure(enc({in, out, "4ADP2"}, unprivileged), kOutputOpenError, {"in.wav", "out.adp"});
    EXPECT_EQ(readFile(out), kOldOutput);
}

// The output is opened before the input's header is read; naming the input as output
// must not destroy it.
TEST_F(EncoderTool, OutputNamingTheInputLeavesItIntact) {
    const Bytes wav = monoWave(k1000x16);
    writeFile(in, wav);
    ASSERT_EQ(symlink(in.c_str(), dir.file("soft.wav").c_str()), 0);
    ASSERT_EQ(link(in.c_str(), dir.file("hard.wav").c_str()), 0);
    const std::vector<std::string> all = {"in.wav", "soft.wav", "hard.wav"};
    for (const std::string& name :
         {in, dir.file("soft.wav"), dir.file("hard.wav"), dir.path + "/./in.wav"}) {
        expectFailure(enc({in, name, "4ADP2"}), kOutputOpenError, all);
        EXPECT_EQ(readFile(in), wav) << name;
    }
}

// Each rejected input prints its line, leaves no output and keeps an existing one.
TEST_F(EncoderTool, RejectedInputsLeaveNoOutput) {
    for (const RejectedWave& c : rejectedWaves()) {
        SCOPED_TRACE(c.name);
        const std::string& message = c.rateError ? kRateError : kFormatError;
        writeFile(in, c.file);
        expectFailure(enc({in, out, "4ADP2"}), message, {"in.wav"});
        writeFile(out, kOldOutput);
        expectFailure(enc({in, out, "2ADP2"}), message, {"in.wav", "out.adp"});
        EXPECT_EQ(readFile(out), kOldOutput);
        unlink(out.c_str());
    }
}

TEST_F(EncoderTool, SuccessReplacesAnExistingOutputAndKeepsItsMode) {
    writeFile(in, monoWave(k1000x16, 8000));
    writeFile(out, kOldOutput);
    chmod(out.c_str(), 0640);
    expectFinished(enc({in, out, "4ADP2"}));
    EXPECT_EQ(readFile(out), kFourBit1000);
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(EncoderTool, OutputThroughASymbolicLinkReplacesItsTarget) {
    writeFile(in, monoWave(k1000x16, 8000));
    const std::string target = dir.file("target.adp");
    writeFile(target, kOldOutput);
    ASSERT_EQ(symlink(target.c_str(), out.c_str()), 0);
    expectFinished(enc({in, out, "4ADP2"}));
    struct stat st;
    ASSERT_EQ(lstat(out.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
    EXPECT_EQ(readFile(target), kFourBit1000);
}

TEST_F(EncoderTool, TrailingChunkIsNotEncoded) {
    const Bytes fmt = chunk("fmt ", formatBody(1, 1, 8000, 16));
    const Bytes data = chunk("data", sampleBytes(k1000x16));
    writeFile(in, riff({fmt, data, chunk("LIST", Bytes(26, 'x'))}));
    expectFinished(enc({in, out, "4ADP2"}));
    EXPECT_EQ(readFile(out), kFourBit1000);
}

TEST_F(EncoderTool, DeviceOutputIsWrittenInPlace) {
    writeFile(in, monoWave(k1000x16));
    expectFinished(enc({in, "/dev/null", "4ADP2"}));
}

TEST_F(EncoderTool, StandardInputAsPipe) {
    const Bytes fmt = chunk("fmt ", formatBody(1, 1, 8000, 16));
    // A streaming writer's placeholder size, and a chunk after the data.
    const Bytes wav = riff({fmt, chunkDeclared("data", 0xFFFFFFFFu, sampleBytes(k1000x16))});
    RunOptions piped;
    piped.stdinBytes = &wav;
    expectFinished(enc({"/dev/stdin", out, "4ADP2"}, piped));
    EXPECT_EQ(readFile(out), kFourBit1000);

    const Bytes withList =
        riff({fmt, chunk("LIST", Bytes(4001, 'x'), false), chunk("data", sampleBytes(k1000x16)),
              chunk("LIST", Bytes(8, 'y'))});
    piped.stdinBytes = &withList;
    expectFinished(enc({"/dev/stdin", out, "4ADP2"}, piped));
    EXPECT_EQ(readFile(out), kFourBit1000);
}

TEST_F(EncoderTool, PipeInAndPipeOut) {
    const std::vector<int16_t> samples = tone(100000);
    writeFile(in, monoWave(samples, 16000));
    expectFinished(enc({in, out, "4ADP2"}));
    const Bytes direct = readFile(out);
    ASSERT_EQ(direct.size(), 16u + 50000u);

    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::string piped = dir.file("piped.adp");
    const std::string msg = dir.file("msg");
    ASSERT_EQ(shell("cat '" + fifo + "' > '" + piped + "' & cat '" + in + "' | '" + kEnc +
                    "' /dev/stdin '" + fifo + "' 4ADP2 > '" + msg + "'; rc=$?; wait; exit $rc"),
              0);
    EXPECT_EQ(readFile(msg), Bytes(kFinished.begin(), kFinished.end()));
    EXPECT_EQ(readFile(piped), direct);
}

// A run ended by a signal mid-stream removes its temporary file and keeps the old output.
TEST_F(EncoderTool, InterruptedRunLeavesTheOldOutput) {
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    writeFile(out, kOldOutput);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        const pid_t pid = fork();
        if (pid == 0) {
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, STDOUT_FILENO);
            execl(kEnc.c_str(), kEnc.c_str(), fifo.c_str(), out.c_str(), "4ADP2", nullptr);
            _exit(127);
        }
        // Feed the header and some samples, then stall with the stream open.
        const int fd = open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const Bytes wav = monoWave(tone(4000));
        ASSERT_EQ(write(fd, wav.data(), 3000), 3000);
        bool tempSeen = false;
        for (int i = 0; i < 500 && !tempSeen; ++i) {
            for (const std::string& name : dir.entries()) tempSeen = tempSeen || name[0] == '.';
            if (!tempSeen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(tempSeen) << "the run writes to a temporary file";
        kill(pid, sig);
        int status = 0;
        waitpid(pid, &status, 0);
        close(fd);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig);
        auto names = dir.entries();
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"fifo", "out.adp"}));
        EXPECT_EQ(readFile(out), kOldOutput);
    }
}

// Peers that write WAVE to a pipe: the result must equal converting their file.
TEST_F(EncoderTool, PeersWritingToAPipe) {
    const std::string source = dir.file("source.wav");
    writeFile(source, monoWave(tone(48000), 32000));
    struct Peer {
        const char* program;
        std::string toFile;
        std::string toPipe;
    };
    const Peer peers[] = {
        {"sox", "sox -D '" + source + "' -r 16000 -c 1 '" + in + "'",
         "sox -D '" + source + "' -t wav -r 16000 -c 1 -"},
        {"ffmpeg",
         "ffmpeg -nostdin -loglevel error -y -i '" + source + "' -ar 16000 -ac 1 '" + in + "'",
         "ffmpeg -nostdin -loglevel error -i '" + source + "' -ar 16000 -ac 1 -f wav -"},
    };
    int ran = 0;
    for (const Peer& p : peers) {
        if (!haveProgram(p.program)) continue;
        ++ran;
        SCOPED_TRACE(p.program);
        ASSERT_EQ(shell(p.toFile), 0);
        expectFinished(enc({in, out, "4ADP2"}));
        const Bytes direct = readFile(out);
        EXPECT_GT(direct.size(), 16u + 10000u);
        const std::string piped = dir.file("piped.adp");
        ASSERT_EQ(shell("set -o pipefail; " + p.toPipe + " | '" + kEnc + "' /dev/stdin '" + piped +
                        "' 4ADP2 >/dev/null"),
                  0);
        EXPECT_EQ(readFile(piped), direct);
        unlink(piped.c_str());
    }
    if (ran == 0) GTEST_SKIP() << "neither sox nor ffmpeg is installed";
}

}  // namespace
