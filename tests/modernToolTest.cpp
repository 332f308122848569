// kestrune-adpcm run as its users run it, on recordings of every format made here with
// the tool's own libraries (make-recording): formats and rates, what it reports, and the
// bash rows of modernToolRows.sh, one per promise. Agreement with peer programs (sox, ffmpeg) is a
// test of its own, skipped where they are not installed.
#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <random>

#include "adpFile.h"
#include "codec/adpcm.h"
#include "support/testSupport.h"
#include "support/toolRows.h"
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

// The listening report in a real browser, as a person uses it: the page's decoder against
// the project's on random device files, a sort by a click, the columns that differ, a
// prompt opened from the keyboard with its views and players, the header in view after
// scrolling, a hostile name kept text, and no script errors. encode --report holds the device files
// it wrote.
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
    // A name the page must show as text (a script that ran would add a line).
    const std::string hostile =
        "q<!--KESTRUNE_AUDIO--><img src=x onerror=seenErrors.push(1)><!--<script>";
    want +=
        "worst first prompt\nsorted prompt\nsorted random5\ncolumns name seconds fileBytes bits "
        "rate "
        "snr segsnr wsnr lufsIn lufsOut peak warnings\nopened by key prompt canvases 4 seconds "
        "4.99 "
        "4.99 header at 0";
    ASSERT_EQ(sh("$K encode --quiet prompt.wav && cp prompt.adp '" + hostile +
                 ".adp' && $K report --quiet r.html *.adp && "
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
    const Bytes payload(prompt.begin() + 16, prompt.end());
    want = decoded("prompt", payload, true) + decoded(hostile, payload, true) + want + "\n";
    EXPECT_EQ(std::string(seen.begin(), seen.end()), want);
}

KESTRUNE_TOOL_ROWS(ModernToolRows, KESTRUNE_TESTS "/modernToolRows.sh");

}  // namespace
