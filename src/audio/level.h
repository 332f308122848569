// Levels of a mono recording at the device rate, for evening out a set of prompts:
// integrated loudness (ITU-R BS.1770 as EBU R128 applies it, through libebur128), active
// speech level (ITU-T P.56 method B), the peak, and where the sound begins and ends. And
// the look-ahead limiter that keeps a raised level under a peak ceiling. Samples are
// floats, 1.0 being full scale.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace kestrune::detail {

// Active speech level, ITU-T P.56 method B: the level of the signal while speech is
// active, activity being where a two-stage envelope (30 ms time constant) stands above a
// threshold, with 200 ms of hangover; of the thresholds, 2^-15 to 2^-1 of full scale in
// 6 dB steps, the one whose active level lies 15.9 dB above it is taken (interpolated in
// dB). Levels are in dB relative to full scale (dBov).
class ActiveSpeechLevel {
public:
    explicit ActiveSpeechLevel(uint32_t rate);
    void add(std::span<const float> samples);
    // The active level and the share of the time it was active; nothing for silence.
    std::optional<double> level() const;
    double activity() const;

private:
    static constexpr int kThresholds = 15;
    double decay_, p_ = 0, q_ = 0, energy_ = 0;
    uint64_t samples_ = 0, hangover_;
    std::array<uint64_t, kThresholds> active_{}, hang_{};
    std::optional<double> interpolate(double* activity) const;
};

// Everything an analysis pass learns of a recording.
class LevelMeter {
public:
    LevelMeter(uint32_t rate, bool loudness, bool speech);
    ~LevelMeter();
    LevelMeter(const LevelMeter&) = delete;
    LevelMeter& operator=(const LevelMeter&) = delete;

    void add(std::span<const float> samples);

    uint32_t rate() const { return rate_; }
    uint64_t samples() const { return samples_; }
    float peak() const { return peak_; }
    std::optional<double> loudnessLufs() const;  // nothing when too short (under 400 ms)
    std::optional<double> speechLevelDb() const;
    // Where the sound stands above `belowPeakDb` (negative) relative to the peak, widened
    // by `margin` samples each side: [begin, end). Nothing when the recording is silent.
    std::optional<std::pair<uint64_t, uint64_t>> soundBounds(double belowPeakDb,
                                                             uint64_t margin) const;
    // How far under the peak (dB, negative) the loudest sample within `edge` samples of
    // either end lies, at the quieter end: what a trim threshold must lie above to cut.
    double endsBelowPeakDb(uint64_t edge) const;

private:
    // First and last sample whose magnitude lies in each half-decibel band below 0 dBFS.
    static constexpr int kBands = 300;
    uint32_t rate_;
    uint64_t samples_ = 0;
    float peak_ = 0;
    void* loudness_ = nullptr;  // libebur128's state
    std::unique_ptr<ActiveSpeechLevel> speech_;
    std::array<uint64_t, kBands> first_, last_;
};

// Keeps every sample within +-ceiling by a gain that falls smoothly before a peak (over the
// look-ahead) and recovers after it; what goes in comes out `delay()` samples later.
class Limiter {
public:
    Limiter(float ceiling, uint32_t rate);
    void push(float x, std::vector<float>& out);
    void flush(std::vector<float>& out);  // the delayed samples still held
    uint64_t changed() const { return changed_; }

private:
    float ceiling_;
    std::size_t lookahead_;
    double release_, recovering_ = 1;
    std::deque<float> held_;                       // the input, delayed
    std::deque<std::pair<uint64_t, double>> min_;  // window minimum of the needed gain
    std::deque<double> smoothed_;                  // the last `lookahead_` minima
    double sum_ = 0;
    uint64_t at_ = 0, changed_ = 0;
};

}  // namespace kestrune::detail
