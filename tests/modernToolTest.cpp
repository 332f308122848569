// kestrune-adpcm run as its users run it, on recordings of every format made here with
// the tool's own libraries (make-recording): formats and rates, what it reports, and one
// bash row per promise, grouped by class. Agreement with peer programs (sox, ffmpeg) is a
// test of its own, skipped where they are not installed.
#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <random>

#include "adpFile.h"
#include "audio/level.h"
#include "codec/adpcm.h"
#include "support/testSupport.h"
#include "tool/batch.h"
#include "wave/waveFile.h"

namespace {

class ModernTool : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override { ASSERT_EQ(sh("cp '" KESTRUNE_EXAMPLE "' prompt.wav"), 0); }
    int sh(const std::string& script) const {
        return shell("set -e; cd '" + dir.path +
                     "'; K='" KESTRUNE_ADPCM "'; E='" KESTRUNE_ENC "'; D='" KESTRUNE_DEC
                     "'; M='" KESTRUNE_MAKE_RECORDING "'; " +
                     script);
    }
    Samples readWave(const std::string& name, uint32_t* rate) const {
        FILE* fp = std::fopen(dir.file(name).c_str(), "rb");
        WaveFormat f{};
        uint32_t bytes = 0;
        Samples s;
        if (fp != nullptr && waveFileOpen(&f, fp, &bytes) == kWaveOk) {
            s.resize(bytes / 2);
            s.resize(std::fread(s.data(), 2, s.size(), fp));
        }
        if (fp != nullptr) std::fclose(fp);
        *rate = f.sampleRate;
        return s;
    }
    double snrDb(const std::string& source, const std::string& played) const {
        uint32_t rate = 0;
        const Samples a = readWave(source, &rate), b = readWave(played, &rate);
        double s = 0, e = 0;
        for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
            const double x = a[i], d = x - b[i];
            s += x * x;
            e += d * d;
        }
        return 10 * std::log10(s / std::max(e, 1.0));
    }
};

// Each container and sample type, with the device rate it gets by default.
TEST_F(ModernTool, EveryFormatAtItsDefaultRate) {
    const struct {
        const char* name;
        const char* make;
        uint32_t rate;
    } sources[] = {
        {"s24.wav", "rate=48000 channels=2 type=s24", 32000},
        {"f32.wav", "rate=44100 channels=2 type=float", 32000},
        {"multi.wav", "rate=48000 channels=3", 32000},  // extensible
        {"st.flac", "rate=48000 channels=2", 32000},
        {"st.aiff", "rate=22050", 16000},
        {"u8.wav", "rate=11025 type=u8", 10600},
        {"low.w64", "rate=3000", 4000},
        {"st.ogg", "rate=44100 channels=2", 32000},
        {"st.mp3", "rate=48000 channels=2", 32000},
        {"st.opus", "rate=48000 channels=2", 32000},
    };
    for (const auto& s : sources) {
        SCOPED_TRACE(s.name);
        ASSERT_EQ(
            sh(std::string("$M prompt.wav ") + s.name + " " + s.make + "; $K encode --quiet " +
               s.name + " -o x.adp; $K decode -f --quiet x.adp -o ours.wav; rm x.adp"),
            0);
        uint32_t rate = 0;
        const auto played = static_cast<double>(readWave("ours.wav", &rate).size());
        EXPECT_NEAR(played / s.rate, 4.985, 0.08);
        EXPECT_EQ(rate, s.rate);
    }
}

// The peers' pipeline (sox resampling, then the legacy encoder) is beaten by the default
// level by more than the two resamplers differ; peers writing WAVE into a pipe give the
// legacy encoder what their files give it.
TEST_F(ModernTool, PeerAgreement) {
    if (!haveProgram("sox") || !haveProgram("ffmpeg")) {
        GTEST_SKIP() << "peer checks not run: sox or ffmpeg is not installed";
    }
    const struct {
        const char* name;
        const char* make;
        const char* rate;
    } sources[] = {{"x.wav", "rate=48000 channels=2 type=s24", "32000"},
                   {"x.aiff", "rate=22050", "16000"}};
    for (const auto& s : sources) {
        SCOPED_TRACE(s.name);
        ASSERT_EQ(sh(std::string("$M prompt.wav ") + s.name + " " + s.make +
                     "; $K encode -f --tune snr " + s.name +
                     " -o x.adp 2>/dev/null; $K decode -f --quiet x.adp -o ours.wav;"
                     "sox -D " +
                     s.name + " -r " + s.rate +
                     " -c 1 -b 16 ref.wav; $E ref.wav ref.adp 4ADP2 >/dev/null;"
                     "$D ref.adp refplay.wav >/dev/null"),
                  0);
        EXPECT_GT(snrDb("ref.wav", "ours.wav"), snrDb("ref.wav", "refplay.wav") + 1.5);
    }
    EXPECT_EQ(sh("for p in 'sox -D prompt.wav -t wav -r 8000 -'"
                 " 'ffmpeg -nostdin -v error -i prompt.wav -ar 8000 -f wav -'; do $p > f.wav;"
                 "$p | $E /dev/stdin p.adp 4ADP2; $E f.wav f.adp 4ADP2; cmp p.adp f.adp; done "
                 ">/dev/null"),
              0);
}

// The SNR the summary reports is that of what the device plays, over every sample.
TEST_F(ModernTool, ReportedSnrIsWhatTheDevicePlays) {
    ASSERT_EQ(sh("$K encode --json prompt.wav -o j.adp > j.json 2>/dev/null; $K decode --quiet "
                 "j.adp -o j.wav"),
              0);
    const Bytes text = readFile(dir.file("j.json"));
    const auto json = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    ASSERT_TRUE(json.is_array() && json.size() == 1) << std::string(text.begin(), text.end());
    EXPECT_NEAR(json[0]["snr_db"].get<double>(), snrDb("prompt.wav", "j.wav"), 0.006);
}

// The progress line: files not yet started are as long as those measured; a file in
// flight is counted once.
TEST(Progress, TimeLeft) {
    const struct {
        ProgressFigures f;
        const char* line;
    } rows[] = {
        {{4, 2, 2, 1, 5, 10, 1}, "1/4 files, 5.0 s of audio, 5.0x real time, 0:03 left"},
        {{4, 3, 2, 2, 12, 20, 2}, "2/4 files, 12.0 s of audio, 6.0x real time, 0:03 left"},
        {{10, 10, 10, 9, 600, 660, 10}, "9/10 files, 600.0 s of audio, 60.0x real time, 0:01 left"},
        {{2, 2, 2, 2, 8, 8, 1}, "2/2 files, 8.0 s of audio, 8.0x real time"},
        {{3, 1, 0, 0, 4, 0, 1}, "0/3 files, 4.0 s of audio"},
        {{3, 1, 1, 0, 4, 8, 0.5}, "0/3 files, 4.0 s of audio"},
    };
    for (const auto& r : rows) EXPECT_EQ(progressText(r.f), r.line);
}

// A set of prompts at volumes 40 dB apart, with silence at both ends: after levelling
// each plays within 0.5 LU of the target (measured here), under the ceiling, and keeps
// the margin of silence (within 10 ms) around all of its sound.
TEST_F(ModernTool, LevelledSetIsEvenUnclippedAndTrimmed) {
    ASSERT_EQ(sh("for v in 0.01 0.1 1; do $M prompt.wav p$v.wav scale=$v lead=8000 tail=12000;"
                 "$K encode --quiet --json -q 1 --loudness -23 --trim p$v.wav -o p$v.adp >p$v.json;"
                 "$K decode --quiet p$v.adp -o p$v.out.wav; done"),
              0);
    uint32_t rate = 0;
    const Samples source = readWave("prompt.wav", &rate);
    const auto sound = [](const Samples& s) {  // first and last sample above -50 dB of the peak
        int peak = 1;
        for (const int16_t v : s) peak = std::max(peak, std::abs(int{v}));
        std::size_t first = s.size(), last = 0;
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (std::abs(int{s[i]}) * 316 >= peak) first = std::min(first, i), last = i;
        }
        return std::pair{first, s.size() - 1 - last};
    };
    const auto [lead, tail] = sound(source);
    for (const char* v : {"0.01", "0.1", "1"}) {
        SCOPED_TRACE(v);
        const Samples played = readWave(std::string("p") + v + ".out.wav", &rate);
        ebur128_state* meter = ebur128_init(1, rate, EBUR128_MODE_I);
        std::vector<float> f(played.begin(), played.end());
        for (float& x : f) x /= 32768;
        ebur128_add_frames_float(meter, f.data(), f.size());
        double lufs = 0;
        ebur128_loudness_global(meter, &lufs);
        ebur128_destroy(&meter);
        EXPECT_NEAR(lufs, -23, 0.5);
        EXPECT_LT(*std::max_element(f.begin(), f.end()), 0.95f);
        const auto [first, end] = sound(played);
        // 40 ms of margin at 16 kHz is 640 samples; the source's own silence counts too.
        EXPECT_NEAR(static_cast<double>(first), std::min<double>(lead + 8000, 640), 160);
        EXPECT_NEAR(static_cast<double>(end), std::min<double>(tail + 12000, 640), 160);
        EXPECT_NEAR(static_cast<double>(played.size() - first - end),
                    static_cast<double>(source.size() - lead - tail), 32);
        // What was cut and what is left make up the recording (to the JSON's 0.1 ms).
        const Bytes text = readFile(dir.file(std::string("p") + v + ".json"));
        const auto json = nlohmann::json::parse(text.begin(), text.end())[0];
        const double cut = json["trim_start_ms"].get<double>() + json["trim_end_ms"].get<double>();
        EXPECT_NEAR(cut * rate / 1000 + static_cast<double>(played.size()),
                    static_cast<double>(source.size() + 20000), 3);
    }
}

// Active speech level, worked by hand: a steady sine is active throughout, so its level is
// its RMS; switched on and off each second, it is active for its second plus the
// envelope's fall to the threshold 15.9 dB under (about 95 ms) and the 200 ms hangover,
// less the envelope's rise (about 27 ms): 63.4 % of the time, 1.03 dB under its RMS.
TEST(ActiveSpeechLevel, KnownAnswers) {
    const uint32_t rate = 8000;
    const struct {
        double on, period, level, activity;
    } rows[] = {{8, 8, -23.01, 1.0}, {1, 2, -24.04, 0.634}};
    for (const auto& r : rows) {
        ActiveSpeechLevel meter(rate);
        std::vector<float> x(static_cast<std::size_t>(8 * rate));
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double t = static_cast<double>(i) / rate;
            x[i] = std::fmod(t, r.period) < r.on
                       ? static_cast<float>(0.1 * std::sin(2 * M_PI * 440 * t))
                       : 0;
        }
        meter.add(x);
        EXPECT_NEAR(*meter.level(), r.level, 0.3);
        EXPECT_NEAR(meter.activity(), r.activity, 0.03);
    }
    EXPECT_FALSE(ActiveSpeechLevel(rate).level());
}

// The limiter never lets a sample past the ceiling, delays nothing away, and leaves alone
// what lies far from any peak.
TEST(Limiter, HoldsTheCeiling) {
    std::mt19937 random(7);
    for (const float ceiling : {0.89f, 0.5f, 0.1f}) {
        Limiter limiter(ceiling, 16000);
        std::vector<float> in(96000), out;
        for (std::size_t i = 0; i < in.size(); ++i) {
            const float loud = i % 32000 < 2000 ? 4.0f : 0.05f;  // loud stretches, quiet ones
            in[i] = loud * std::uniform_real_distribution<float>(-1, 1)(random);
        }
        for (const float x : in) limiter.push(x, out);
        limiter.flush(out);
        ASSERT_EQ(out.size(), in.size());
        for (std::size_t i = 0; i < in.size(); ++i) {
            ASSERT_LE(std::fabs(out[i]), ceiling) << i;
            if (i % 32000 > 2000 + 16000 && i % 32000 < 32000 - 100) {
                ASSERT_EQ(out[i], in[i]) << i;
            }
        }
        EXPECT_GT(limiter.changed(), 5000u);
    }
}

struct Row {
    const char* name;
    const char* script;
};

const Row kRows[] = {
    {"LegacyBytes",  // level 0 is the legacy encoder, and decoding the legacy decoder
     "$E prompt.wav l4 4ADP2 >/dev/null; $E prompt.wav l2 2ADP2 >/dev/null;"
     "$K encode -q 0 prompt.wav -o n4 2>/dev/null; $K encode -q 0 -b 2 prompt.wav -o n2 "
     "2>/dev/null; cmp l4 n4; cmp l2 n2; $D n4 lw >/dev/null; $K decode n4 -o nw 2>/dev/null;"
     "cmp lw nw"},
    {"Channels",  // averaged, or one taken
     "$K encode -q 0 prompt.wav -o mono.adp 2>/dev/null; $M prompt.wav both.wav channels=2;"
     "$M prompt.wav right.wav channels=2 only=2; $K encode -q 0 both.wav -o b.adp 2>/dev/null;"
     "$K encode -q 0 --channel 2 right.wav -o r.adp 2>/dev/null; cmp mono.adp b.adp;"
     "cmp mono.adp r.adp; $K encode --channel 3 both.wav -o c.adp 2>err && exit 1; [ ! -e c.adp ];"
     "grep -qx 'kestrune-adpcm: both.wav: has no channel 3 (it has 2)' err"},
    {"ClippingIsWarnedUnlessQuiet",
     "$K encode --gain 20 prompt.wav -o loud.adp 2>err; grep -q '^kestrune-adpcm: prompt.wav: "
     "warning: [1-9][0-9]* samples clipped$' err; $K encode -f --quiet --gain 20 prompt.wav -o "
     "loud.adp 2>err; [ ! -s err ]; $K encode prompt.wav -o q.adp 2>&1 | grep -q warning && exit 1;"
     "true"},
    {"BatchWithBadFilesAlikeForAnyJobs",
     "$M prompt.wav a.wav rate=48000 channels=2; $M prompt.wav b.flac rate=8000;"
     "echo not audio > text.wav; for j in 1 2; do $K encode -j $j -d out$j a.wav b.flac text.wav "
     "no.wav 2>err$j && exit 1; done; cmp out1/a.adp out2/a.adp; cmp out1/b.adp out2/b.adp;"
     "[ \"$(ls -A out1)\" = \"$(printf 'a.adp\\nb.adp')\" ];"
     "grep -qx 'kestrune-adpcm: text.wav: not audio that can be read: .*' err2;"
     "grep -qx 'kestrune-adpcm: no.wav: cannot open: No such file or directory' err2;"
     "grep -qx 'a.wav -> out2/a.adp: 32000 Hz, 4-bit, 4.99 s, 79765 bytes, level 5 perceptual, SNR "
     "[0-9.]* dB, segSNR "
     "[0-9.]* dB, wSNR [0-9.]* dB, 0 clipped' err2; grep -q lowered err2 && exit 1; true"},
    {"PipesInAndOut",
     "$M prompt.wav file.flac rate=44100 channels=2; cat file.flac | $K encode - -o - 2>/dev/null "
     "> piped.adp; $K encode --quiet file.flac; cmp piped.adp file.adp;"
     "$K encode --quiet file.flac -o - | cat > streamed.adp; [ ${PIPESTATUS[0]} = 0 ];"
     "cmp streamed.adp file.adp;"
     "cat file.adp | $K decode - -o - 2>/dev/null > p.wav; $K decode --quiet file.adp; cmp p.wav "
     "file.wav"},
    {"Info",
     "$K encode -b 2 prompt.wav -o g.adp 2>/dev/null; $K info g.adp prompt.wav >out 2>err && "
     "exit 1; [ \"$(cat out)\" = 'g.adp: 2-bit, 16000 Hz, 19941 bytes, 79764 samples, 4.985 s' ];"
     "[ \"$(cat err)\" = 'kestrune-adpcm: prompt.wav: not a device file (no \"Audi\" mark)' ];"
     "printf 'Audi\\x80\\x01\\x01\\x04\\x1f\\x40\\0\\0\\x80\\0\\0\\0' >big.adp; truncate -s "
     "2147483664 big.adp; [ \"$($K info big.adp)\" = 'big.adp: 4-bit, 8000 Hz, 2147483648 bytes, "
     "4294967296 samples, 536870.912 s' ]"},
    {"Json",
     "$K encode --json -b 2 -d j prompt.wav no.wav >enc.json 2>/dev/null && exit 1; cp "
     "j/prompt.adp "
     "g.adp; $K info --json g.adp prompt.wav >info.json && exit 1; cp prompt.wav \"$(printf "
     "'\\xff\\xfe.wav')\"; $K encode --json --quiet ./*.wav -d u >u.json; python3 -c '\nimport "
     "json\n"
     "good, bad = json.load(open(\"enc.json\"))\n"
     "assert set(good) == {\"input\", \"output\", \"ok\", \"error\", \"rate\", \"bits\", "
     "\"samples\", \"bytes\", \"level\", \"tune\", \"snr_db\", \"segsnr_db\", \"wsnr_db\", "
     "\"clipped\", \"nonfinite\", "
     "\"warnings\", \"loudness_in\", \"loudness_out\", \"gain_db\", \"limited\", "
     "\"trim_start_ms\", \"trim_end_ms\"}\nassert good[\"gain_db\"] is None and "
     "good[\"limited\"] is None\n"
     "assert good[\"ok\"] and not bad[\"ok\"] and bad[\"error\"] and good[\"error\"] is None\n"
     "assert (bad[\"rate\"], bad[\"bits\"], bad[\"samples\"]) == (None, 2, None)\n"
     "assert (good[\"rate\"], good[\"bits\"], good[\"samples\"], good[\"bytes\"]) == (16000, 2, "
     "79764, 19941)\nassert good[\"snr_db\"] > 10 and good[\"clipped\"] == 0\n"
     "assert all(round(good[k], 2) == good[k] for k in (\"snr_db\", \"segsnr_db\", \"wsnr_db\"))\n"
     "assert (good[\"level\"], good[\"tune\"]) == (5, \"perceptual\")\n"
     "info = json.load(open(\"info.json\"))\nassert info[0] == {\"path\": \"g.adp\", \"ok\": "
     "True, \"error\": None, \"bits\": 2, \"rate\": 16000, \"bytes\": 19941, \"samples\": 79764, "
     "\"seconds\": 4.985, \"warnings\": []}\nassert not info[1][\"ok\"] and \"Audi\" in "
     "info[1][\"error\"]\nassert \"./\\ufffd\\ufffd.wav\" in [o[\"input\"] for o in "
     "json.load(open(\"u.json\"))]'; jq -e 'length == 2' u.json >/dev/null"},
    {"UsageErrorsExit2WithOneLine",
     "for args in '' encode 'encode -r 44100 prompt.wav' 'encode -b 3 prompt.wav' "
     "'encode -q 10 prompt.wav' 'encode -o x prompt.wav prompt.wav' 'encode -o x -d y prompt.wav' "
     "'encode --gain 3 --normalize prompt.wav' 'encode -' 'encode --json -o - prompt.wav' "
     "'decode - -' 'encode --gain nan prompt.wav' 'encode --gain -inf prompt.wav' "
     "'encode --gain 1e400 prompt.wav' 'encode --normalize 3 prompt.wav' 'encode --output= "
     "prompt.wav' "
     "'encode --directory= prompt.wav' 'encode --c-align 1 prompt.wav' 'encode --peak 0.5 "
     "prompt.wav'; do set +e; $K $args >out 2>err; rc=$?; set -e; [ $rc = 2 ];"
     "[ ! -s out ]; [ $(wc -l <err) = 1 ]; grep -q '^kestrune-adpcm: ' err; done;"
     "$K encod x 2>err && exit 1; grep -q \"unknown command 'encod' (did you mean 'encode'?)\" err;"
     "$K encode -r 16k x 2>err && exit 1; grep -q '16k.*4000, 5300, 6400, 8000, 10600, 12800, "
     "16000 or 32000' err; $K encode --help | grep -q -- '--normalize\\[=DBFS\\] ';"
     "[ \"$($K --version)\" = 'kestrune-adpcm 1.0.0' ]"},
    {"NormalizeTakesTheLevelWrittenEitherWay",
     "$K encode --normalize -3 prompt.wav -o a.adp 2>/dev/null; $K encode --normalize=-3 "
     "prompt.wav "
     "-o b.adp 2>/dev/null; cmp a.adp b.adp; $K encode prompt.wav --normalize -o c.adp "
     "2>/dev/null; cmp a.adp c.adp && exit 1; true"},
    // Existing files are kept without -f, the batch goes on, and outputs are compared by
    // what they name.
    {"OverwriteAndIdentity",
     "$M prompt.wav talk.wav rate=48000 channels=2 type=s24; cp talk.wav keep; $K encode -q 0 "
     "talk.wav 2>/dev/null; $K decode talk.adp 2>err && exit 1; cmp talk.wav keep;"
     "grep -qx 'kestrune-adpcm: talk.wav: exists (use -f to replace it)' err;"
     "$K decode -f --quiet talk.adp; cmp -s talk.wav keep && exit 1; mkdir o; echo old >o/talk.adp;"
     "$K encode -q 0 -d o talk.wav prompt.wav 2>/dev/null && exit 1; [ \"$(cat o/talk.adp)\" = old "
     "]; [ -s o/prompt.adp ]; $K encode -q 0 --quiet prompt.wav -o /dev/null;"
     "mkdir d1 d2 x; cp talk.adp d1/v.adp; cp talk.adp d2/v.adp; $K decode -d dd d1/v.adp d2/v.adp "
     "2>err && exit 1; grep -qx 'kestrune-adpcm: d2/v.adp: same output as d1/v.adp (dd/v.wav)' err;"
     "cp prompt.wav k.wav; cp prompt.wav k.flac; $K encode k.wav ./k.flac 2>err && exit 1;"
     "cp prompt.wav x/v.wav; $K encode x//v.wav x/v.wav 2>>err && exit 1; [ $(grep -c 'same "
     "output as' err) = 2 ]; grep -q '^kestrune-adpcm: x/v.wav: same output as x//v.wav' err"},
    {"EveryFileSucceedsWhateverTheDescriptorLimit",
     "$M prompt.wav one.wav frames=400; for i in $(seq 300); do cp one.wav t$i.wav; done;"
     "(ulimit -n 40; $K encode -q 0 -j 64 -d o t*.wav 2>err); [ $(ls o | wc -l) = 300 ];"
     "grep -q '^kestrune-adpcm: -j 64 lowered to' err; (ulimit -n 40; $K encode -q 0 -j 64 -d o3 "
     "--quiet t*.wav 2>err); [ ! -s err ]; $K encode -q 0 -j 1024 -d o2 --quiet t*.wav t*.wav "
     "2>/dev/null && exit 1; [ $(ls o2 | wc -l) = 300 ]"},
    {"StandardOutputWriteFailure",
     "$K encode --quiet prompt.wav; $K info prompt.adp >/dev/full 2>err && exit 1;"
     "grep -qx 'kestrune-adpcm: standard output: No space left on device' err;"
     "$K encode --json -q 0 prompt.wav -o j.adp >/dev/full 2>err && exit 1; grep -q '^kestrune-"
     "adpcm: standard output: No space left' err; $K encode -q 0 prompt.wav -o - >/dev/full "
     "2>err && exit 1; grep -q 'cannot write standard output: No space left on device' err;"
     "$K encode -f --quiet prompt.wav >&-; $K info --json prompt.adp >&- 2>err && exit 1; grep -qx "
     "'kestrune-adpcm: standard output: Bad file descriptor' err; $K info --json $(yes prompt.adp "
     "| head -300) >/dev/full "
     "2>err && exit 1; grep -qx "
     "'kestrune-adpcm: "
     "standard output: No space left on device' err"},
    {"TruthfulReasons",
     "$K encode prompt.wav -o nowhere/x.adp 2>err && exit 1; grep -q 'cannot create "
     "nowhere/x.adp: No such file or directory$' err; $K encode prompt.wav -o prompt.wav/x 2>err "
     "&& exit 1; grep -q 'Not a directory$' err; $K decode prompt.wav 2>err && exit 1; grep -q "
     "'not a device file' err; $K encode -d made/sub no.wav 2>/dev/null && exit 1; [ ! -e made ]"},
    {"OddSamplesAndTruncation",
     "$M prompt.wav nan.wav type=float nan=1000; $K encode --json nan.wav >j.json 2>err;"
     "grep -qx 'kestrune-adpcm: nan.wav: warning: 160 samples not finite (NaN or infinite), played "
     "as silence' err; grep -q '\"nonfinite\":160' j.json; $M prompt.wav s.wav rate=48000;"
     "$M prompt.wav s.flac; $M prompt.wav s.mp3; for f in s.wav s.flac s.mp3; do head -c 30000 $f "
     ">cut.${f#s.}; $K encode -f --json cut.${f#s.} >>j.json 2>>err; done;"
     "grep -q 'cut.wav: warning: truncated: its header promises 239295 frames, 14978 read$' err;"
     "grep -q 'cut.flac: warning: cut short (.*): [0-9]* of 79765 frames read$' err;"
     "grep -q 'cut.mp3: warning: truncated: [0-9]* of 79765 frames read$' err;"
     "[ $(grep -c '\"warnings\":\\[\"' j.json) = 4 ]; grep -v '^kestrune-adpcm: \\| -> ' err && "
     "exit "
     "1; $M prompt.wav sil.wav scale=0; $K encode sil.wav 2>&1 | grep null && exit 1;"
     "$K encode --trim -o t.adp sil.wav 2>err; grep -q 'sil.wav: warning: silent; trimmed to its "
     "first 80 ms' err; [ \"$($K info t.adp)\" = 't.adp: 4-bit, 16000 Hz, 640 bytes, 1280 samples, "
     "0.080 s' ]"},
    // What a terminal shows: progress with the time left, none under --quiet, and a line
    // that a signal ends.
    {"ProgressOnATerminal",
     "script -qfec \"$K encode - -o x.adp\" /dev/null </dev/null >tty && exit 1; grep -q 'standard "
     "input is "
     "a "
     "terminal' tty; [ ! -e x.adp ]; for f in a b c; do cp prompt.wav $f.wav; done; script -qfec "
     "\"$K encode -q 9 -j 1 -d o a.wav "
     "b.wav c.wav\" /dev/null >tty; grep -q '/3 files, .*x real time, 0:0[0-9] left' tty;"
     "grep -q 'c.wav -> o/c.adp' tty; script -qfec \"$K encode -f --quiet -q 9 -d o a.wav\" "
     "/dev/null >quiet; [ ! -s quiet ]; script -qfec \"$K encode -q 9 -j 1 -d p a.wav b.wav c.wav "
     "& echo \\$! >pid; wait\" /dev/null >cut & until grep -q 'real time' cut; do sleep 0.05; "
     "done; kill -TERM $(cat pid); wait $!; [ \"$(tail -c 1 cut | od -An -c | tr -d ' ')\" = "
     "'\\n' ]; grep -q 'real time[^\\n]*\r$' cut"},
    // C source compiles and holds the device file's bytes; names collide clearly.
    {"CSource",
     "$K encode --quiet prompt.wav -o p.adp; $K encode --quiet --format c --c-section .rodata.v "
     "--c-align 4 prompt.wav -o 1st-prompt.h; printf '#include \"1st-prompt.h\"\n#include "
     "<stdio.h>\nint main(void) { return fwrite(prompt_1st_prompt, 1, prompt_1st_prompt_length, "
     "stdout) != prompt_1st_prompt_length; }\n' >m.c; cc -std=c99 -Wall -Werror m.c -o m; ./m "
     "| cmp - p.adp; cp prompt.wav a-b.wav; cp prompt.wav a_b.wav; $K encode --format c -d c "
     "a-b.wav a_b.wav 2>err && exit 1; grep -q \"a_b.wav: its C name 'a_b' is also a-b.wav's\" "
     "err"},
    // The image's index, read by a reader of its own, locates each device file; packing
    // device files made by a make rule gives the image that packing the recordings does.
    {"Pack",
     "mkdir rec adp; i=999; for n in b a c; do i=$((i + 3000)); $M prompt.wav rec/$n.wav "
     "frames=$i; done; $K pack --quiet -o "
     "v.bin --header v.h --json rec/*.wav >v.json; printf 'c.wav\n# x\na.wav\n' >rec/list;"
     "$K pack --quiet -o l.bin --list rec/list --align 16; for n in a b c; do $K encode --quiet "
     "rec/$n.wav -o adp/$n.adp; done; $K pack --quiet -o v2.bin adp/*.adp; cmp v.bin v2.bin;"
     "$K pack -o v.bin adp/a.adp 2>err && exit 1; grep -q 'v.bin: exists' err; printf "
     "'Audi\\x80\\x01\\x01\\x04\\x1f\\x40\\0\\0\\0\\0\\0\\0' >adp/e.adp; $K pack --quiet -o e.bin "
     "adp/e.adp; [ $(tail -c 16 e.bin | od -An -tx1 | tr -d ' \\n') = "
     "4175646980010104"
     "1f40000000000000 ];"
     "printf '#include \"v.h\"\nint main(void) { return V_COUNT != 3 || V_B != 1 || "
     "v_offset[V_C] + v_length[V_C] != V_IMAGE_LENGTH; }\n' >m.c; cc -std=c99 -Wall -Werror m.c "
     "-o m; ./m; python3 -c '\nimport json, struct\nfor image, names, align in ((\"v.bin\", "
     "\"abc\", 4), (\"l.bin\", \"ca\", 16)):\n    b = open(image, \"rb\").read()\n    "
     "magic, version, al, n, size = struct.unpack(\">4sHHII\", b[:16])\n    assert (magic, "
     "version, al, n, size) == (b\"KPAK\", 1, align, len(names), len(b))\n    for i, name in "
     "enumerate(names):\n        off, length = struct.unpack(\">II\", b[16 + 8 * i:24 + 8 * "
     "i])\n        assert off % align == 0 and b[off:off + length] == open(\"adp/\" + name + "
     "\".adp\", \"rb\").read()\nm = json.load(open(\"v.json\"))\nassert (m[\"image\"], "
     "m[\"count\"], m[\"align\"]) == (\"v.bin\", 3, 4)\nassert [(p[\"id\"], p[\"name\"], "
     "p[\"input\"]) for p in m[\"prompts\"]] == [(0, \"a\", \"rec/a.wav\"), (1, \"b\", "
     "\"rec/b.wav\"), (2, \"c\", \"rec/c.wav\")]\nassert all(p[\"length\"] == "
     "len(open(\"adp/\" + p[\"name\"] + \".adp\", \"rb\").read()) for p in m[\"prompts\"])'"},
    {"NonRegularInputsAreReadLikeStandardInput",
     "$M prompt.wav s.flac rate=44100 channels=2; $K encode -q 1 --normalize -3 --quiet s.flac;"
     "cat s.flac | $K encode -q 1 --normalize -3 - -o b.adp; cmp s.adp b.adp;"
     "$K encode -q 1 --normalize=-3 <(cat s.flac) -o c.adp; cmp s.adp c.adp; mkfifo f;"
     "cat s.flac >f & $K encode -q 1 --normalize -3 f -o d.adp; cmp s.adp d.adp;"
     "cat s.flac | TMPDIR=/nowhere $K encode - -o e.adp 2>err && exit 1;"
     "grep -q 'cannot hold the input: No such file or directory' err"},
};

// The listening report in a real browser, as a person uses it: the page's decoder against
// the project's on random device files, a sort by a click, a prompt opened with its views
// and players, and no script errors. encode --report holds the device files it wrote.
TEST_F(ModernTool, ListeningReportInABrowser) {
    if (!haveProgram("chromium") || !haveProgram("chromedriver")) {
        GTEST_SKIP() << "browser checks not run: chromium or chromedriver is not installed";
    }
    // What the project's decoder plays of a payload, as a hash.
    const auto decoded = [](const std::string& name, const Bytes& payload, bool fourBit) {
        Samples played(payload.size() * (fourBit ? 2 : 4));
        DecoderStream decoder{};
        decodeStream(&decoder, fourBit ? kVariant4Bit : kVariant2Bit, payload.data(),
                     static_cast<uint32_t>(payload.size()), played.data());
        uint32_t h = 2166136261u;
        for (const int16_t v : played) h = (h ^ static_cast<uint16_t>(v)) * 16777619u;
        return "decoded " + name + " " + std::to_string(h) + "\n";
    };
    std::mt19937 rng(7);
    std::string want;
    for (int i = 0; i < 6; ++i) {
        Bytes payload(1 + rng() % 3000);
        for (auto& b : payload) b = static_cast<uint8_t>(rng());
        const std::string name = "random" + std::to_string(i);
        writeFile(dir.file(name + ".adp"), adpFile(kAcceptedRates[rng() % 8], i % 2 == 0, payload));
        want += decoded(name, payload, i % 2 == 0);
    }
    want +=
        "worst first prompt\nsorted prompt\nsorted random5\nopened prompt canvases 4 seconds 4.99 "
        "4.99";
    ASSERT_EQ(sh("$K encode --quiet prompt.wav && $K report --quiet r.html *.adp && "
                 "$K encode --quiet -b 2 -d set --report set.html prompt.wav && "
                 "grep -qF \"$(base64 -w0 set/prompt.adp)\" set.html && "
                 "{ sed -n '1,/<head>/p' r.html; echo '<script>window.seenErrors = [];"
                 "addEventListener(\"error\", e => seenErrors.push(\"error \" + e.message));"
                 "console.error = (...a) => seenErrors.push(\"error \" + a.join(\" \"));</script>';"
                 "  sed '1,/<head>/d' r.html; } >checked.html && "
                 "python3 '" KESTRUNE_SUPPORT "/browser.py' checked.html '" KESTRUNE_SUPPORT
                 "/reportCheck.js' >seen"),
              0);
    const Bytes seen = readFile(dir.file("seen"));
    const Bytes prompt = readFile(dir.file("prompt.adp"));
    want = decoded("prompt", Bytes(prompt.begin() + 16, prompt.end()), true) + want + "\n";
    EXPECT_EQ(std::string(seen.begin(), seen.end()), want);
}

class ModernToolRows : public ModernTool, public ::testing::WithParamInterface<Row> {};

// A failing row shows the commands it ran last.
TEST_P(ModernToolRows, Holds) {
    if (sh(std::string("exec 9>trace; BASH_XTRACEFD=9; set -x; ") + GetParam().script) == 0) return;
    const Bytes trace = readFile(dir.file("trace"));
    const std::string text(trace.begin(), trace.end());
    ADD_FAILURE() << "last commands:\n" << text.substr(text.size() > 1500 ? text.size() - 1500 : 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, ModernToolRows, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
