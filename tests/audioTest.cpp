// The audio layer and the whole pipeline: the levels and the limiter against answers
// worked by hand, and a recording through the library giving what `kestrune-adpcm encode`
// gives, byte for byte and key for key, in C++ and in C.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <random>

#include "audio/level.h"
#include "kestrune/kestrune.h"
#include "kestrune/recording.hpp"
#include "support/testSupport.h"

namespace {

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
        kestrune::detail::ActiveSpeechLevel meter(rate);
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
    EXPECT_FALSE(kestrune::detail::ActiveSpeechLevel(rate).level());
}

// The limiter never lets a sample past the ceiling, delays nothing away, and leaves alone
// what lies far from any peak.
TEST(Limiter, HoldsTheCeiling) {
    std::mt19937 random(7);
    for (const float ceiling : {0.89f, 0.5f, 0.1f}) {
        kestrune::detail::Limiter limiter(ceiling, 16000);
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

// The whole pipeline in the library gives what `kestrune-adpcm encode` gives, byte for byte
// and key for key, in C++ and in C, for each row of options.
TEST(Recording, AsTheToolEncodesIt) {
    TempDir dir;
    const std::string prompt = KESTRUNE_EXAMPLE;
    struct Row {
        std::vector<std::string> args;
        kestrune::RecordingOptions options;
    };
    kestrune::RecordingOptions levelled;
    levelled.level = 1;
    levelled.loudnessLufs = -12;  // limited, and missing its target: a warning
    levelled.trimDb = -50;
    kestrune::RecordingOptions narrow;
    narrow.rate = 8000;
    narrow.bits = 2;
    narrow.level = 0;
    narrow.gainDb = 9;  // clipped: a warning
    kestrune::RecordingOptions speech;
    speech.level = 1;
    speech.tune = kestrune::Tune::snr;
    speech.speechLevelDb = -30;
    speech.peakDbfs = -6;
    speech.channel = 1;
    speech.trimDb = -30;
    speech.trimMarginMs = 5;
    const Row rows[] = {
        {{"-q", "1", "--loudness", "-12", "--trim"}, levelled},
        {{"-r", "8000", "-b", "2", "-q", "0", "--gain", "9"}, narrow},
        {{"-q", "1", "--tune", "snr", "--speech-level", "-30", "--peak", "-6", "--channel", "1",
          "--trim=-30", "--trim-margin", "5"},
         speech},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = {"encode", "-f", "--json", prompt, "-o", dir.file("t.adp")};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const RunResult tool = runTool(KESTRUNE_ADPCM, args);
        ASSERT_EQ(tool.exitCode, 0) << tool.err;
        const auto json = nlohmann::json::parse(tool.out)[0];
        kestrune::Report report;
        const auto file = kestrune::encodeRecording(prompt, row.options, &report);
        ASSERT_TRUE(file) << report.reason;
        EXPECT_EQ(*file, readFile(dir.file("t.adp")));
        const auto key = [](const std::optional<double>& v) {
            return v ? nlohmann::json(std::round(*v * 100) / 100) : nlohmann::json();
        };
        EXPECT_EQ(report.samples, json["samples"]);
        EXPECT_EQ(report.clipped, json["clipped"]);
        EXPECT_EQ(key(report.snrDb), json["snr_db"]);
        EXPECT_EQ(key(report.loudnessOut), json["loudness_out"]);
        EXPECT_EQ(key(report.gainDb), json["gain_db"]);
        EXPECT_EQ(key(report.trimStartMs), json["trim_start_ms"]);
        EXPECT_EQ(report.limited ? nlohmann::json(*report.limited) : nlohmann::json(),
                  json["limited"]);
        EXPECT_EQ(nlohmann::json(report.warnings), json["warnings"]);

        kestrune_recording_options c;
        kestrune_recording_defaults(&c);
        c.rate = row.options.rate;
        c.bits = row.options.bits;
        c.level = row.options.level;
        c.tune = static_cast<int>(row.options.tune);
        c.gain_db = row.options.gainDb;
        c.normalize_dbfs = row.options.normalizeDbfs.value_or(NAN);
        c.loudness_lufs = row.options.loudnessLufs.value_or(NAN);
        c.speech_level_db = row.options.speechLevelDb.value_or(NAN);
        c.peak_dbfs = row.options.peakDbfs.value_or(NAN);
        c.trim_db = row.options.trimDb.value_or(NAN);
        c.trim_margin_ms = row.options.trimMarginMs;
        uint8_t* bytes = nullptr;
        std::size_t size = 0;
        kestrune_report cr;
        ASSERT_EQ(kestrune_encode_recording(prompt.c_str(), &c, &bytes, &size, &cr), KESTRUNE_OK);
        EXPECT_EQ(Bytes(bytes, bytes + size), *file);
        EXPECT_EQ(cr.samples, report.samples);
        ASSERT_EQ(cr.warning_count, report.warnings.size());
        for (std::size_t i = 0; i < cr.warning_count; ++i)
            EXPECT_EQ(cr.warnings[i], report.warnings[i]);
        kestrune_free(bytes);
        kestrune_report_free(&cr);
    }
}

// Float samples of any channel count and rate: two equal channels at the device rate are
// the mono recording itself; 44.1 kHz is resampled to 32 kHz.
TEST(Recording, FromSamples) {
    const Bytes wave = readFile(KESTRUNE_EXAMPLE);
    std::vector<float> stereo;
    for (std::size_t i = 44; i + 1 < wave.size(); i += 2) {
        const auto v = static_cast<int16_t>(wave[i] | wave[i + 1] << 8);
        stereo.insert(stereo.end(), 2, static_cast<float>(v) / 32768.0f);
    }
    kestrune::RecordingOptions options;
    options.level = 0;
    const auto fromFile = kestrune::encodeRecording(KESTRUNE_EXAMPLE, options);
    const auto fromSamples = kestrune::encodeRecording(stereo, 16000, 2, options);
    ASSERT_TRUE(fromFile && fromSamples);
    EXPECT_EQ(*fromSamples, *fromFile);
    kestrune::Report report;
    ASSERT_TRUE(kestrune::encodeRecording(stereo, 44100, 2, options, &report));
    EXPECT_EQ(report.rate, 32000u);
    EXPECT_NEAR(static_cast<double>(report.samples), stereo.size() / 2 * 32000.0 / 44100, 2);
}

TEST(Recording, Errors) {
    TempDir dir;
    writeFile(dir.file("text.wav"), Bytes(100, 'x'));
    const auto error = [](const std::string& path, const kestrune::RecordingOptions& o) {
        kestrune::Report report;
        const auto file = kestrune::encodeRecording(path, o, &report);
        EXPECT_EQ(file.error(), report.error);
        return std::pair{report.error, report.reason};
    };
    const auto with = [](auto set) {
        kestrune::RecordingOptions o;
        o.level = 0;
        set(o);
        return o;
    };
    using E = kestrune::Error;
    const std::string prompt = KESTRUNE_EXAMPLE;
    const struct {
        std::pair<E, std::string> got;
        E expected;
        const char* reason;
    } rows[] = {
        {error(dir.file("none.wav"), {}), E::cannot_open, "cannot open: No such file or directory"},
        {error(dir.file("text.wav"), {}), E::not_audio, nullptr},
        {error(prompt + std::string(1, '\0') + ".x", {}), E::cannot_open,
         "cannot open: the path holds a NUL byte"},
        {error(prompt, with([](auto& o) { o.channel = 2; })), E::invalid_channel,
         "has no channel 2 (it has 1)"},
        {error(prompt, with([](auto& o) { o.gainDb = 201; })), E::invalid_option, nullptr},
        {error(prompt, with([](auto& o) { o.loudnessLufs = NAN; })), E::invalid_option, nullptr},
        {error(prompt, with([](auto& o) { o.trimMarginMs = -1; })), E::invalid_option, nullptr},
        {error(prompt, with([](auto& o) { o.normalizeDbfs = o.loudnessLufs = -20; })),
         E::invalid_option, nullptr},
        {error(prompt, with([](auto& o) { o.speechLevelDb = o.loudnessLufs = -20; })),
         E::invalid_option, nullptr},
        {error(prompt, with([](auto& o) { o.normalizeDbfs = o.gainDb = -20; })), E::invalid_option,
         nullptr},
        {error(prompt, with([](auto& o) { o.rate = 44100; })), E::invalid_rate, nullptr},
        {error(prompt, with([](auto& o) { o.bits = 3; })), E::invalid_bits, nullptr},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.got.first, r.expected) << kestrune::name(r.expected);
        if (r.reason != nullptr) {
            EXPECT_EQ(r.got.second, r.reason);
        }
    }
    const float one = 0;
    EXPECT_EQ(kestrune::encodeRecording({&one, 1}, 16000, 0, {}).error(), E::not_audio);
    EXPECT_STREQ(kestrune::name(E::invalid_channel), "invalid_channel");
    uint8_t* file = nullptr;
    std::size_t size = 0;
    kestrune_report report;
    EXPECT_EQ(
        kestrune_encode_recording(dir.file("none.wav").c_str(), nullptr, &file, &size, &report),
        KESTRUNE_CANNOT_OPEN);
    EXPECT_STREQ(report.reason, "cannot open: No such file or directory");
    kestrune_report_free(&report);
    EXPECT_EQ(kestrune_encode_recording(nullptr, nullptr, &file, &size, nullptr),
              KESTRUNE_NULL_ARGUMENT);
}

}  // namespace
