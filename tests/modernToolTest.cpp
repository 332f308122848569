// kestrune-adpcm run as its users run it, on recordings made here with sox and ffmpeg:
// every format it reads, the default rate rule, the search's gain over the reference
// pipeline (sox, then kestrune-adpcm-enc), batches, pipes, JSON and usage errors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "support/testSupport.h"
#include "wave/waveFile.h"

namespace {

const std::string kTool = KESTRUNE_ADPCM;
const std::string kEnc = KESTRUNE_ENC;
const std::string kDec = KESTRUNE_DEC;

struct Wave {
    uint32_t rate = 0;
    std::vector<int16_t> samples;
};

Wave readWave(const std::string& path) {
    Wave w;
    FILE* fp = std::fopen(path.c_str(), "rb");
    WaveFormat f{};
    uint32_t bytes = 0;
    if (fp != nullptr && waveFileOpen(&f, fp, &bytes) == kWaveOk && f.bitsPerSample == 16) {
        w.rate = f.sampleRate;
        w.samples.resize(bytes / 2);
        w.samples.resize(std::fread(w.samples.data(), 2, w.samples.size(), fp));
    }
    if (fp != nullptr) std::fclose(fp);
    return w;
}

double snrDb(const Wave& source, const Wave& played) {
    double s = 0, e = 0;
    for (std::size_t i = 0; i < std::min(source.samples.size(), played.samples.size()); ++i) {
        const double x = source.samples[i], d = x - played.samples[i];
        s += x * x;
        e += d * d;
    }
    return 10 * std::log10(s / std::max(e, 1.0));
}

class ModernTool : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!haveProgram("sox")) return;
        dir = new TempDir;
        ASSERT_EQ(shell("cd '" + dir->path + "' && cp '" KESTRUNE_EXAMPLE "' prompt.wav"), 0);
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override {
        if (dir == nullptr) GTEST_SKIP() << "sox is not installed";
    }
    static int sh(const std::string& script) {
        return shell("set -e; cd '" + dir->path + "'; K='" + kTool + "'; " + script);
    }
    static RunResult tool(const std::vector<std::string>& args, const RunOptions& o = {}) {
        std::vector<std::string> all = args;
        for (std::string& a : all) {
            if (a.find('.') != std::string::npos && a[0] != '-') a = dir->file(a);
        }
        return runTool(kTool, all, o);
    }
    static inline TempDir* dir = nullptr;
};

// Each source is made from the bundled prompt; `compare` sources are also resampled by
// sox and encoded by the legacy tool, which the default level must beat.
struct Source {
    const char* name;
    const char* make;  // a command writing the file named `name`
    uint32_t rate;     // the device rate it gets by default
    bool compare;
};

const Source kSources[] = {
    {"s24.wav", "sox -D prompt.wav -r 48000 -c 2 -b 24 s24.wav", 32000, true},
    {"f32.wav", "sox -D prompt.wav -r 44100 -c 2 -e floating-point -b 32 f32.wav", 32000, true},
    {"multi.wav", "sox -D prompt.wav -r 48000 -c 3 multi.wav", 32000, true},  // extensible
    {"st.flac", "sox -D prompt.wav -r 48000 -c 2 st.flac", 32000, true},
    {"st.aiff", "sox -D prompt.wav -r 22050 st.aiff", 16000, true},
    {"u8.wav", "sox -D prompt.wav -r 11025 -b 8 u8.wav", 10600, true},
    {"low.wav", "sox -D prompt.wav -r 3000 low.wav", 4000, true},
    {"flac.wav", "sox -D prompt.wav -r 12800 -t flac flac.wav", 12800, true},  // wrong name
    {"st.ogg", "ffmpeg -v error -i prompt.wav -ac 2 -ar 44100 -c:a libvorbis st.ogg", 32000, false},
    {"st.mp3", "ffmpeg -v error -i prompt.wav -ac 2 -ar 48000 st.mp3", 32000, false},
    {"st.opus", "ffmpeg -v error -i prompt.wav -ac 2 -ar 48000 -c:a libopus st.opus", 32000, false},
};

TEST_F(ModernTool, EveryFormatAtItsDefaultRate) {
    for (const Source& s : kSources) {
        SCOPED_TRACE(s.name);
        if (sh(s.make + std::string(" 2>/dev/null")) != 0) continue;  // no encoder for it
        const std::string out = std::string(s.name) + ".adp";
        ASSERT_EQ(tool({"encode", "--quiet", s.name, "-o", out}).exitCode, 0);
        ASSERT_EQ(tool({"decode", "--quiet", out, "-o", "ours.wav"}).exitCode, 0);
        const Wave ours = readWave(dir->file("ours.wav"));
        EXPECT_EQ(ours.rate, s.rate);
        EXPECT_NEAR(static_cast<double>(ours.samples.size()) / s.rate, 4.985, 0.08);
        if (!s.compare) continue;
        const std::string rate = std::to_string(s.rate);
        ASSERT_EQ(sh("sox -D " + std::string(s.name) + " -r " + rate + " -c 1 -b 16 ref.wav && '" +
                     kEnc + "' ref.wav ref.adp 4ADP2 >/dev/null && '" + kDec +
                     "' ref.adp refplay.wav >/dev/null"),
                  0);
        const Wave source = readWave(dir->file("ref.wav"));
        // The search gains about 3 dB; the two resamplers differ far below that.
        EXPECT_GT(snrDb(source, ours), snrDb(source, readWave(dir->file("refplay.wav"))) + 1.5);
    }
}

TEST_F(ModernTool, LevelZeroIsTheLegacyEncoderByteForByte) {
    for (const auto& [bits, method] : {std::pair{"4", "4ADP2"}, std::pair{"2", "2ADP2"}}) {
        EXPECT_EQ(sh("'" + kEnc + "' prompt.wav legacy.adp " + method +
                     " >/dev/null; $K encode -q 0 -b " + bits +
                     " prompt.wav -o new.adp 2>/dev/null; cmp legacy.adp new.adp"),
                  0)
            << method;
    }
    // And decoding agrees with the legacy decoder.
    EXPECT_EQ(sh("'" + kDec +
                 "' new.adp legacy.wav >/dev/null; $K decode new.adp -o new.wav "
                 "2>/dev/null; cmp legacy.wav new.wav"),
              0);
}

// A failed file gets its line and no output; the others convert, alike for every -j.
TEST_F(ModernTool, BatchesInParallelWithABadFile) {
    EXPECT_EQ(sh("sox -D prompt.wav -r 48000 -c 2 a.wav; sox -D prompt.wav -r 8000 b.flac;"
                 "head -c 20000 b.flac > cut.flac; echo not audio > text.wav;"
                 "for j in 1 2; do ! $K encode -j $j -d out$j a.wav cut.flac b.flac text.wav no.wav"
                 " 2>err$j; done; cmp out1/a.adp out2/a.adp; cmp out1/b.adp out2/b.adp;"
                 "[ \"$(ls -A out1)\" = \"$(printf 'a.adp\\nb.adp')\" ];"
                 "grep -qx 'kestrune-adpcm: cut.flac: cannot read the audio: .*' err2;"
                 "grep -qx 'kestrune-adpcm: text.wav: not audio that can be read: .*' err2;"
                 "grep -qx 'kestrune-adpcm: no.wav: cannot open: No such file or directory' err2;"
                 "grep -qx 'a.wav -> out2/a.adp: 32000 Hz, 4-bit, .* 0 clipped' err2"),
              0);
}

TEST_F(ModernTool, PipesInAndOut) {
    EXPECT_EQ(
        sh("sox -D prompt.wav -r 44100 -c 2 -t flac - | $K encode - -o - 2>/dev/null > piped.adp;"
           "sox -D prompt.wav -r 44100 -c 2 file.flac; $K encode --quiet file.flac;"
           "cmp piped.adp file.adp; cat file.adp | $K decode - -o - 2>/dev/null | cmp - "
           "<($K decode file.adp -o - 2>/dev/null)"),
        0);
}

TEST_F(ModernTool, JsonAndInfo) {
    if (!haveProgram("python3")) GTEST_SKIP() << "python3 is not installed";
    const char* check = R"(python3 -c '
import json, sys
rows = json.load(open(sys.argv[1]))
good, bad = rows
assert good["ok"] and bad["ok"] is False and bad["error"], rows
assert good["rate"] == 16000 and good["bits"] == 2 and good["samples"] == 79764, good
assert good["bytes"] == 19941 and good["snr_db"] > 10 and good["clipped"] == 0, good
assert set(good) == {"input","output","ok","error","rate","bits","samples","bytes","snr_db","segsnr_db","clipped"}
info = json.load(open(sys.argv[2]))
assert info[0] == {"path": "g.adp", "ok": True, "error": None, "bits": 2, "rate": 16000,
                   "bytes": 19941, "samples": 79764, "seconds": 4.985}, info
assert info[1]["ok"] is False and "Audi" in info[1]["error"], info
' enc.json info.json)";
    EXPECT_EQ(sh("$K encode --json -b 2 -d j prompt.wav nothere.wav > enc.json 2>/dev/null || true;"
                 "cp j/prompt.adp g.adp; $K info --json g.adp prompt.wav > info.json || true;" +
                 std::string(check)),
              0);
    const RunResult r = tool({"info", "g.adp", "prompt.wav"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out,
              dir->file("g.adp") + ": 2-bit, 16000 Hz, 19941 bytes, 79764 samples, 4.985 s\n");
}

TEST_F(ModernTool, UsageErrors) {
    const std::vector<std::vector<std::string>> calls = {
        {},
        {"encode"},
        {"encode", "-r", "44100", "prompt.wav"},
        {"encode", "-b", "3", "prompt.wav"},
        {"encode", "-q", "10", "prompt.wav"},
        {"encode", "-o", "x.adp", "prompt.wav", "prompt.wav"},
        {"encode", "-o", "x.adp", "-d", "out", "prompt.wav"},
        {"encode", "--gain", "3", "--normalize", "prompt.wav"},
        {"encode", "-"},
        {"encode", "--json", "-o", "-", "prompt.wav"},
        {"decode", "-", "-"},
        {"convert", "prompt.wav"},
    };
    for (const auto& args : calls) {
        const RunResult r = tool(args);
        EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("kestrune-adpcm: ", 0), 0u) << r.err;
    }
    EXPECT_EQ(tool({"encode", "--help"}).exitCode, 0);
    EXPECT_EQ(tool({"--version"}).out, "kestrune-adpcm 1.0.0\n");
}

}  // namespace
