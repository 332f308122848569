// kestrune-adpcm run as its users run it, on recordings made here with sox and ffmpeg:
// every format it reads at its default rate, the search's gain over the reference
// pipeline (sox, then kestrune-adpcm-enc), channels and clipping, batches, pipes, JSON
// and usage errors.
#include <gtest/gtest.h>

#include <cmath>

#include "support/testSupport.h"
#include "wave/waveFile.h"

namespace {

class ModernTool : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override {
        if (!haveProgram("sox")) GTEST_SKIP() << "sox is not installed";
        ASSERT_EQ(sh("cp '" KESTRUNE_EXAMPLE "' prompt.wav"), 0);
    }
    int sh(const std::string& script) const {
        return shell("set -e; cd '" + dir.path +
                     "'; K='" KESTRUNE_ADPCM "'; E='" KESTRUNE_ENC "'; D='" KESTRUNE_DEC "'; " +
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
};

double snrDb(const Samples& source, const Samples& played) {
    double s = 0, e = 0;
    for (std::size_t i = 0; i < std::min(source.size(), played.size()); ++i) {
        const double x = source[i], d = x - played[i];
        s += x * x;
        e += d * d;
    }
    return 10 * std::log10(s / std::max(e, 1.0));
}

// Each made from the bundled prompt, with the device rate it gets by default; the lossless
// ones are also resampled by sox and encoded by the legacy tool, which the default level
// must beat by more than the two resamplers differ.
TEST_F(ModernTool, EveryFormatAtItsDefaultRate) {
    const struct {
        const char* name;
        const char* make;
        uint32_t rate;
        bool compare;
    } sources[] = {
        {"s24.wav", "sox -D prompt.wav -r 48000 -c 2 -b 24", 32000, true},
        {"f32.wav", "sox -D prompt.wav -r 44100 -c 2 -e floating-point -b 32", 32000, true},
        {"multi.wav", "sox -D prompt.wav -r 48000 -c 3", 32000, true},  // extensible
        {"st.flac", "sox -D prompt.wav -r 48000 -c 2", 32000, true},
        {"st.aiff", "sox -D prompt.wav -r 22050", 16000, true},
        {"u8.wav", "sox -D prompt.wav -r 11025 -b 8", 10600, true},
        {"low.wav", "sox -D prompt.wav -r 3000", 4000, true},
        {"flac.wav", "sox -D prompt.wav -r 12800 -t flac", 12800, true},  // a misleading name
        {"st.ogg", "ffmpeg -v error -i prompt.wav -ac 2 -ar 44100 -c:a libvorbis", 32000, false},
        {"st.mp3", "ffmpeg -v error -i prompt.wav -ac 2 -ar 48000", 32000, false},
        {"st.opus", "ffmpeg -v error -i prompt.wav -ac 2 -ar 48000 -c:a libopus", 32000, false},
    };
    for (const auto& s : sources) {
        SCOPED_TRACE(s.name);
        if (sh(std::string(s.make) + " " + s.name + " 2>/dev/null") != 0) continue;  // no encoder
        ASSERT_EQ(sh(std::string("$K encode --quiet ") + s.name +
                     " -o x.adp; $K decode --quiet "
                     "x.adp -o ours.wav"),
                  0);
        uint32_t rate = 0, sourceRate = 0;
        const Samples ours = readWave("ours.wav", &rate);
        EXPECT_EQ(rate, s.rate);
        EXPECT_NEAR(static_cast<double>(ours.size()) / s.rate, 4.985, 0.08);
        if (!s.compare) continue;
        ASSERT_EQ(sh(std::string("sox -D ") + s.name + " -r " + std::to_string(s.rate) +
                     " -c 1 -b 16 ref.wav; $E ref.wav ref.adp 4ADP2 >/dev/null; $D ref.adp "
                     "refplay.wav >/dev/null"),
                  0);
        const Samples source = readWave("ref.wav", &sourceRate);
        EXPECT_GT(snrDb(source, ours), snrDb(source, readWave("refplay.wav", &rate)) + 1.5);
    }
}

// The SNR the summary reports is that of what the device plays, over every sample.
TEST_F(ModernTool, ReportedSnrIsWhatTheDevicePlays) {
    ASSERT_EQ(sh("$K encode --json prompt.wav -o j.adp > j.json 2>/dev/null; $K decode --quiet "
                 "j.adp -o j.wav"),
              0);
    const Bytes json = readFile(dir.file("j.json"));
    const std::string text(json.begin(), json.end());
    const std::size_t at = text.find("\"snr_db\": ");
    ASSERT_NE(at, std::string::npos) << text;
    uint32_t rate = 0;
    EXPECT_NEAR(std::stod(text.substr(at + 10)),
                snrDb(readWave("prompt.wav", &rate), readWave("j.wav", &rate)), 0.006);
}

TEST_F(ModernTool, Behaviours) {
    const struct {
        const char* name;
        const char* script;
    } cases[] = {
        {"level 0 is the legacy encoder, and decoding the legacy decoder",
         "$E prompt.wav l4 4ADP2 >/dev/null; $E prompt.wav l2 2ADP2 >/dev/null;"
         "$K encode -q 0 prompt.wav -o n4 2>/dev/null; $K encode -q 0 -b 2 prompt.wav -o n2 "
         "2>/dev/null; cmp l4 n4; cmp l2 n2; $D n4 lw >/dev/null; $K decode n4 -o nw 2>/dev/null;"
         "cmp lw nw"},
        {"channels are averaged, or one is taken",
         "$K encode -q 0 prompt.wav -o mono.adp 2>/dev/null; sox -D prompt.wav -c 2 both.wav;"
         "sox -D prompt.wav -c 2 right.wav remix 0 1; $K encode -q 0 both.wav -o b.adp 2>/dev/null;"
         "$K encode -q 0 --channel 2 right.wav -o r.adp 2>/dev/null; cmp mono.adp b.adp;"
         "cmp mono.adp r.adp; $K encode --channel 3 both.wav -o c.adp 2>err && exit 1; [ ! -e "
         "c.adp ];"
         "grep -qx 'kestrune-adpcm: both.wav: has no channel 3 (it has 2)' err"},
        {"clipping is counted and warned about",
         "$K encode --gain 20 prompt.wav -o loud.adp 2>err; grep -q '^kestrune-adpcm: prompt.wav: "
         "warning: [1-9][0-9]* samples clipped$' err; if $K encode prompt.wav -o q.adp 2>&1 | grep "
         "-q warning; then exit 1; fi"},
        {"a batch with bad files, alike for -j 1 and 2",
         "sox -D prompt.wav -r 48000 -c 2 a.wav; sox -D prompt.wav -r 8000 b.flac;"
         "head -c 20000 b.flac > cut.flac; echo not audio > text.wav;"
         "for j in 1 2; do $K encode -j $j -d out$j a.wav cut.flac b.flac text.wav no.wav "
         "2>err$j && exit 1; done; cmp out1/a.adp out2/a.adp; cmp out1/b.adp out2/b.adp;"
         "[ \"$(ls -A out1)\" = \"$(printf 'a.adp\\nb.adp')\" ];"
         "grep -qx 'kestrune-adpcm: cut.flac: cannot read the audio: .*' err2;"
         "grep -qx 'kestrune-adpcm: text.wav: not audio that can be read: .*' err2;"
         "grep -qx 'kestrune-adpcm: no.wav: cannot open: No such file or directory' err2;"
         "grep -qx 'a.wav -> out2/a.adp: 32000 Hz, 4-bit, .* 0 clipped' err2"},
        {"peers writing WAVE to a pipe give what their files give to the legacy encoder",
         "for p in 'sox -D prompt.wav -t wav -r 8000 -'"
         " 'ffmpeg -nostdin -v error -i prompt.wav -ar 8000 -f wav -'; do command -v ${p%% *} || "
         "continue; $p > f.wav; $p | $E /dev/stdin p.adp 4ADP2; $E f.wav f.adp 4ADP2; cmp p.adp "
         "f.adp; done >/dev/null"},
        {"pipes in and out",
         "sox -D prompt.wav -r 44100 -c 2 -t flac - | $K encode - -o - 2>/dev/null > piped.adp;"
         "sox -D prompt.wav -r 44100 -c 2 file.flac; $K encode --quiet file.flac;"
         "cmp piped.adp file.adp; cat file.adp | $K decode - -o - 2>/dev/null > p.wav;"
         "$K decode --quiet file.adp; cmp p.wav file.wav"},
        {"info",
         "$K encode -b 2 prompt.wav -o g.adp 2>/dev/null; $K info g.adp prompt.wav >out 2>err && "
         "exit 1;"
         "[ \"$(cat out)\" = 'g.adp: 2-bit, 16000 Hz, 19941 bytes, 79764 samples, 4.985 s' ];"
         "[ \"$(cat err)\" = 'kestrune-adpcm: prompt.wav: not a device file (no \"Audi\" mark)' "
         "]"},
        {"JSON",
         "command -v python3 >/dev/null || exit 0; $K encode --json -b 2 -d j prompt.wav no.wav "
         ">enc.json 2>/dev/null || true; cp j/prompt.adp g.adp; $K info --json g.adp prompt.wav "
         ">info.json || true; python3 -c '\nimport json\ngood, bad = "
         "json.load(open(\"enc.json\"))\n"
         "assert set(good) == {\"input\", \"output\", \"ok\", \"error\", \"rate\", \"bits\", "
         "\"samples\", \"bytes\", \"snr_db\", \"segsnr_db\", \"clipped\"}\n"
         "assert good[\"ok\"] and not bad[\"ok\"] and bad[\"error\"] and good[\"error\"] is None\n"
         "assert (good[\"rate\"], good[\"bits\"], good[\"samples\"], good[\"bytes\"]) == (16000, "
         "2, "
         "79764, 19941)\nassert good[\"snr_db\"] > 10 and good[\"clipped\"] == 0\n"
         "info = json.load(open(\"info.json\"))\nassert info[0] == {\"path\": \"g.adp\", \"ok\": "
         "True, \"error\": None, \"bits\": 2, \"rate\": 16000, \"bytes\": 19941, \"samples\": "
         "79764, "
         "\"seconds\": 4.985}\nassert not info[1][\"ok\"] and \"Audi\" in info[1][\"error\"]'"},
        {"usage errors exit 2 with one line",
         "for args in '' encode 'encode -r 44100 prompt.wav' 'encode -b 3 prompt.wav' "
         "'encode -q 10 prompt.wav' 'encode -o x prompt.wav prompt.wav' 'encode -o x -d y "
         "prompt.wav' 'encode --gain 3 --normalize prompt.wav' 'encode -' 'encode --json -o - "
         "prompt.wav' 'decode - -' 'convert prompt.wav'; do set +e; $K $args >out 2>err; rc=$?; "
         "set -e; [ $rc = 2 ]; [ ! -s out ]; [ $(wc -l <err) = 1 ]; grep -q '^kestrune-adpcm: ' "
         "err; done; $K encode --help >/dev/null; [ \"$($K --version)\" = 'kestrune-adpcm 1.0.0' "
         "]"},
    };
    for (const auto& c : cases) EXPECT_EQ(sh(c.script), 0) << c.name;
}

}  // namespace
