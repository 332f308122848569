// kestrune: a whole recording to a device file, as `kestrune-adpcm encode` makes it. Any
// recording (a file of a format libsndfile reads, or interleaved float samples at any rate
// and channel count) flows through mixing, resampling, levelling, limiting and trimming
// into the encoder, and the device's playback is measured: the same options, results and
// warnings as the tool's, which calls this.
//
//     kestrune::RecordingOptions options;
//     options.loudnessLufs = -23;
//     options.trimDb = -50;
//     kestrune::Report report;
//     auto file = kestrune::encodeRecording("prompt.wav", options, &report);
//     if (!file) std::puts(report.reason.c_str());
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kestrune/kestrune.hpp"

namespace kestrune {

// The device rate a source at `sourceRate` is encoded at by default: its own when the
// device plays it, else the highest device rate below it, else the lowest (4000 Hz).
KESTRUNE_API uint32_t defaultRate(uint32_t sourceRate);

// How a recording is prepared and encoded; the defaults are the tool's.
struct RecordingOptions {
    uint32_t rate = 0;          // a device rate, or 0: the source's own when the device plays it,
                                // else the highest device rate below it (4000 below 4000 Hz)
    int bits = 4;               // code width: 4 or 2
    int level = kDefaultLevel;  // search level, 0 to kLevels - 1
    Tune tune = Tune::perceptual;         // what the search minimises
    int channel = 0;                      // the channel taken (1 = the first), or 0: their mean
    double gainDb = 0;                    // a gain applied first, -200 to 200 dB
    std::optional<double> normalizeDbfs;  // or scale the mix's peak to this, -200 to 0 dBFS
    // At most one of gainDb (when not 0), normalizeDbfs, loudnessLufs and speechLevelDb.
    std::optional<double> loudnessLufs;   // bring the integrated loudness to this, -70 to 0
                                          // LUFS (EBU R128)
    std::optional<double> speechLevelDb;  // or the active speech level, -70 to 0 dBov (P.56)
    std::optional<double> peakDbfs;       // the limiter's ceiling when levelling, -60 to 0 dBFS
                                          // (by default -1 at 4 bits, -4 at 2 bits)
    std::optional<double> trimDb;         // cut what lies this far under the peak at the ends, -120
                                          // to -1 dB (the tool's --trim is -50)
    double trimMarginMs = 40;             // silence kept before and after the sound, 0 to 10000 ms
    bool measure = true;                  // measure the SNRs of the playback
};

// What encoding a recording gave: the tool's JSON keys, each here by name. Levels in dB.
struct Report {
    Error error = Error::none;
    std::string reason;  // why it failed, in words: "cannot open: No such file or directory"
    uint32_t rate = 0;   // the device rate chosen
    int bits = 0, level = 0;
    Tune tune = Tune::perceptual;
    uint64_t samples = 0;                                        // samples the device plays
    uint64_t bytes = 0;                                          // payload bytes
    std::optional<double> snrDb, segmentalSnrDb, weightedSnrDb;  // none for a silent source
    uint64_t clipped = 0;    // samples clipped when rounded to 16 bits
    uint64_t nonFinite = 0;  // NaN or infinite source samples, played as silence
    std::optional<double> loudnessIn, loudnessOut;  // LUFS, when levelled or trimmed
    std::optional<double> gainDb;                   // the levelling's gain
    std::optional<uint64_t> limited;                // samples the limiter changed
    std::optional<double> trimStartMs, trimEndMs;   // what trimming cut at each end
    // Under a ceiling (peakDbfs, or levelling's default): the playback's peak (dBFS), and
    // how far under the ceiling it stays (negative when level 0 passes it).
    std::optional<double> playbackPeakDbfs, headroomDb;
    std::vector<std::string> warnings;  // one line each
};

// Where encoding's output goes, as it comes; each may be left empty.
struct RecordingSink {
    // The payload's bytes, in order; false stops encoding with write_failed.
    std::function<bool(std::span<const uint8_t> codes)> codes;
    // The prepared samples given to the encoder (mono 16-bit at the device rate).
    std::function<void(std::span<const int16_t> source)> source;
    // What the device plays, in step with codes.
    std::function<void(std::span<const int16_t> played)> played;
};

// A recording on its way to a device file: opened, prepared, then encoded once.
class KESTRUNE_API Recording {
public:
    // A file ("-" is standard input; what is not a regular file is copied to $TMPDIR first).
    // Errors: cannot_open (also for a path holding a NUL byte), not_audio, read_failed;
    // `reason` (when given) says why.
    static Result<Recording> open(const std::string& path, std::string* reason = nullptr);
    // Interleaved float samples (full scale 1) at `rate` Hz, `channels` to a frame; the
    // samples must outlive the recording. Errors: not_audio (no rate, no channels, or not a
    // whole number of frames).
    static Result<Recording> fromSamples(std::span<const float> samples, uint32_t rate,
                                         int channels);
    Recording(Recording&&) noexcept;
    Recording& operator=(Recording&&) noexcept;
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;
    ~Recording();

    uint32_t sourceRate() const;
    // Frames (samples per channel) the source says it holds; none when it does not say.
    std::optional<uint64_t> frames() const;

    // Chooses the device rate, builds the chain and, when levelling or trimming, measures
    // the recording and sets the gain; fills the report's rate, levels and warnings.
    // Errors: invalid_rate, invalid_bits, invalid_level, invalid_tune, invalid_option (a
    // value out of range), invalid_channel, read_failed, out_of_memory.
    Error prepare(const RecordingOptions& options, Report* report);
    // After prepare: the samples the device will play, from a pass that reads the whole
    // recording (for a header written first); none when it cannot be read twice.
    std::optional<uint64_t> countSamples();
    // After prepare: encodes the recording into `sink` and completes the report (quality,
    // loudness out, limited, clipped and the warnings). Errors: read_failed, too_long,
    // write_failed (sink.codes refused), out_of_memory, and prepare's when it was not called.
    Error encode(const RecordingSink& sink, Report* report);

private:
    struct State;
    explicit Recording(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// The whole device file for a recording at `path`, or for interleaved float samples.
// `report`, when given, receives what the tool's JSON gives. Errors: those of Recording.
KESTRUNE_API Result<std::vector<uint8_t>> encodeRecording(const std::string& path,
                                                          const RecordingOptions& options,
                                                          Report* report = nullptr);
KESTRUNE_API Result<std::vector<uint8_t>> encodeRecording(std::span<const float> samples,
                                                          uint32_t rate, int channels,
                                                          const RecordingOptions& options,
                                                          Report* report = nullptr);

}  // namespace kestrune
