// Audio of any format libsndfile reads (WAV of every sample type, AIFF, FLAC, Ogg Vorbis,
// Opus, MP3, ...), delivered as mono 16-bit samples at a device rate: the channels mixed
// (their mean) or one of them taken, scaled, resampled with soxr at high quality, rounded
// and clipped, with the clipped samples counted. It streams in blocks, so memory does not
// grow with the recording's length. Samples that are not finite (NaN, infinities) are
// counted and played as silence; a recording that ends before its header says, or that
// cannot be decoded to its end, gives what could be read and a warning.
//
// The format is read by a Reader (reader.h, a table of readers), and the samples flow
// through a chain of Steps (step.h): mix, resample, gain, then trim, gain and limit when
// levelled. A 16-bit source that needs no mixing, scaling or resampling passes through
// unchanged, sample for sample.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/level.h"
#include "audio/reader.h"
#include "audio/step.h"
#include "io/failure.h"

namespace kestrune::detail {

// The limiter's ceiling when levelling, in dBFS: what the decoder plays then stays under
// full scale (it overshoots more at 2 bits).
constexpr double defaultPeakDbfs(int bits) {
    return bits == 2 ? -4 : -1;
}

// The device rate a source at this rate is converted to by default: its own when the
// device plays it, else the highest device rate below it, else the lowest.
uint32_t defaultDeviceRate(uint32_t sourceRate);

// What is done to the signal at the device rate, from what an analysis pass found: a gain,
// a limiter under a peak ceiling, and the silence at the ends cut.
struct Shaping {
    float gain = 1;
    std::optional<float> ceiling;  // full scale is 1
    uint64_t skip = 0;             // samples left out at the start
    uint64_t keep = UINT64_MAX;    // samples kept after those
};

// Evening out a set of prompts: a level to bring each to, a peak ceiling that a raised
// level may not pass, and the silence at the ends cut.
struct Levelling {
    std::optional<double> loudnessLufs;   // integrated loudness to bring each file to
    std::optional<double> speechLevelDb;  // or active speech level (dBov)
    std::optional<double> peakDbfs;       // ceiling of the limiter; levelling has a default
    std::optional<double> trimDb;         // cut what lies this far below the peak at the ends
    double trimMarginMs = 40;             // kept before and after the sound
    bool any() const { return loudnessLufs || speechLevelDb || peakDbfs || trimDb; }
    bool target() const { return loudnessLufs || speechLevelDb; }
};

// What levelling measured and did.
struct LevelResult {
    std::optional<double> loudnessIn;  // LUFS, of the whole recording
    std::optional<double> gainDb;
    std::optional<double> trimStartMs, trimEndMs;
    std::vector<std::string> warnings;
};

struct AudioOptions {
    int channel = 0;                      // 1-based channel to take; 0 mixes them all
    double gainDb = 0;                    // applied first
    std::optional<double> normalizeDbfs;  // scale the peak to this level instead
};

class AudioInput {
public:
    AudioInput();
    ~AudioInput();
    AudioInput(const AudioInput&) = delete;
    AudioInput& operator=(const AudioInput&) = delete;

    // Opens a file, or standard input for "-". Standard input and anything else that is
    // not a regular file (a pipe, a terminal, a device) is copied to a temporary file in
    // $TMPDIR (default /tmp) first, since most formats must be read more than once.
    // Returns kStatusFinished, or the failure's status with problem() saying why (not
    // audio libsndfile reads: kStatusFormat).
    int open(const std::string& path);
    // Opens audio held in memory; the bytes must outlive the input.
    int openMemory(std::span<const uint8_t> bytes);
    // Opens interleaved float samples (full scale 1); they must outlive the input.
    int openSamples(std::span<const float> samples, uint32_t rate, int channels);

    uint32_t sourceRate() const { return reader_->rate(); }
    int channels() const { return reader_->channels(); }
    // The device rate given to start().
    uint32_t outputRate() const { return outputRate_; }
    // Frames (samples per channel) the source says it holds; some formats only estimate.
    int64_t frames() const { return reader_->frames(); }
    bool lengthKnown() const { return frames() > 0 && frames() != Reader::kUnknownFrames; }

    // Prepares the conversion to `rate`; a failure's status, with problem(), when the
    // options do not fit the source (a channel it does not have) or the audio cannot be read.
    int start(const AudioOptions& options, uint32_t rate);

    // Fills `out` with the next samples; returns how many (fewer only at the end, 0 once
    // it is over), or -1 with status() and problem() when the audio cannot be read.
    std::ptrdiff_t read(std::span<int16_t> out);

    // After start: reads the whole conversion through, counting the samples it gives, and
    // starts again from the beginning; nothing when the source cannot be read twice.
    std::optional<uint64_t> countSamples();

    // After start: measures what read() would give (as floats, before rounding) and starts
    // again from the beginning.
    int analyse(LevelMeter* meter);
    // Shapes what read() gives from now on.
    void shape(const Shaping& shaping);
    // After start: levels and trims what read() gives as `levelling` asks, measuring the
    // sound that will be kept: the silence at the ends is found on the whole recording,
    // then the gain that brings what is kept to the target, then, when the limiter under
    // the ceiling (`ceilingDb` unless the levelling names one) takes some of it, the gain
    // again through the limiter. Returns kStatusFinished or the failure's status.
    int level(const Levelling& levelling, double ceilingDb, LevelResult* result);
    // start() and, when levelling asks anything, level() with the ceiling for `bits`: how
    // a recording is prepared for the encoder.
    int prepare(const AudioOptions& options, const Levelling& levelling, uint32_t rate, int bits,
                LevelResult* result);
    bool limiting() const { return limiter_ != nullptr; }
    uint64_t limited() const { return limiter_ ? limiter_->changed() : 0; }

    uint64_t clipped() const { return clipped_; }
    uint64_t nonFinite() const { return nonFinite_; }
    // Once read to the end: how the recording fell short of its length, or empty.
    const std::string& truncation() const { return truncation_; }
    // How reading has gone: kStatusFinished, or the first failure's status and why.
    int status() const { return failure_.status; }
    const std::string& problem() const { return failure_.reason; }

private:
    int opened(const Source& source);
    int fail(Failure failure);
    bool refill(Block& block);
    bool produce();
    int peak(float* value);
    bool rewind();
    std::size_t pull(std::span<float> out);

    std::unique_ptr<Reader> reader_;
    int fd_ = -1;                 // a regular file read through its descriptor
    FILE* spool_ = nullptr;       // standard input, copied
    std::vector<uint8_t> whole_;  // a short recording, read whole
    uint32_t outputRate_ = 0;

    // The chain, in the order the samples flow; the steps from shapedFrom_ on are shape()'s.
    std::vector<std::unique_ptr<Step>> steps_;
    std::size_t shapedFrom_ = 0;
    LimitStep* limiter_ = nullptr;  // the chain's limiter, when it has one
    bool ended_ = false;            // the source is read to its end
    bool flushed_ = false;          // and the chain emptied
    Block frames_;
    std::vector<float> ready_, pulled_;
    std::size_t readyAt_ = 0;
    uint64_t clipped_ = 0, nonFinite_ = 0;
    int64_t framesRead_ = 0;
    std::string truncation_;
    Failure failure_;  // none (kStatusFinished) until reading fails
};

}  // namespace kestrune::detail
