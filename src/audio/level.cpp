#include "audio/level.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrune::detail {

namespace {

constexpr double kSpeechMarginDb = 15.9;

ebur128_state* ebur(void* state) {
    return static_cast<ebur128_state*>(state);
}

double decibels(double power) {
    return 10 * std::log10(power);
}

}  // namespace

ActiveSpeechLevel::ActiveSpeechLevel(uint32_t rate)
    : decay_(std::exp(-1.0 / (0.03 * rate))), hangover_(std::llround(0.2 * rate)) {}

void ActiveSpeechLevel::add(std::span<const float> samples) {
    for (const float x : samples) {
        energy_ += double{x} * x;
        p_ = decay_ * p_ + (1 - decay_) * std::fabs(x);
        q_ = decay_ * q_ + (1 - decay_) * p_;
        for (int j = 0; j < kThresholds; ++j) {
            if (q_ >= std::ldexp(1.0, j - kThresholds)) {
                ++active_[j];
                hang_[j] = 0;
            } else if (hang_[j] < hangover_) {
                ++active_[j];
                ++hang_[j];
            }
        }
    }
    samples_ += samples.size();
}

// Walks up the thresholds to where the active level stands the margin above one.
std::optional<double> ActiveSpeechLevel::interpolate(double* activity) const {
    if (energy_ <= 0) return std::nullopt;
    double lastLevel = 0, lastExcess = 0;
    if (active_[0] == 0) return std::nullopt;  // never above the lowest threshold: no speech
    for (int j = 0; j < kThresholds; ++j) {
        if (active_[j] == 0) break;  // above the loudest envelope
        const double level = decibels(energy_ / static_cast<double>(active_[j]));
        const double excess = level - 20 * std::log10(std::ldexp(1.0, j - kThresholds));
        if (excess <= kSpeechMarginDb) {
            const double share =
                j == 0 ? 1 : (lastExcess - kSpeechMarginDb) / (lastExcess - excess);
            const double at = j == 0 ? level : lastLevel + share * (level - lastLevel);
            *activity = energy_ / static_cast<double>(samples_) / std::pow(10.0, at / 10);
            return at;
        }
        lastLevel = level;
        lastExcess = excess;
    }
    *activity = static_cast<double>(active_[0]) / static_cast<double>(samples_);
    return decibels(energy_ / static_cast<double>(active_[0]));
}

std::optional<double> ActiveSpeechLevel::level() const {
    double activity = 0;
    return interpolate(&activity);
}

double ActiveSpeechLevel::activity() const {
    double activity = 0;
    return interpolate(&activity) ? activity : 0;
}

LevelMeter::LevelMeter(uint32_t rate, bool loudness, bool speech) : rate_(rate) {
    first_.fill(std::numeric_limits<uint64_t>::max());
    last_.fill(0);
    if (loudness) loudness_ = ebur128_init(1, rate, EBUR128_MODE_I);
    if (speech) speech_ = std::make_unique<ActiveSpeechLevel>(rate);
}

LevelMeter::~LevelMeter() {
    if (loudness_ != nullptr) {
        ebur128_state* state = ebur(loudness_);
        ebur128_destroy(&state);
    }
}

void LevelMeter::add(std::span<const float> samples) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const float m = std::fabs(samples[i]);
        peak_ = std::max(peak_, m);
        if (!(m > 0)) continue;                    // nor NaN, which has no band
        const double below = -40 * std::log10(m);  // half decibels under full scale
        const auto band = static_cast<std::size_t>(std::clamp(below, 0.0, kBands - 1.0));
        first_[band] = std::min(first_[band], samples_ + i);
        last_[band] = samples_ + i;
    }
    if (loudness_ != nullptr)
        ebur128_add_frames_float(ebur(loudness_), samples.data(), samples.size());
    if (speech_) speech_->add(samples);
    samples_ += samples.size();
}

std::optional<double> LevelMeter::loudnessLufs() const {
    double lufs = 0;
    if (loudness_ == nullptr ||
        ebur128_loudness_global(ebur(loudness_), &lufs) != EBUR128_SUCCESS ||
        !std::isfinite(lufs)) {
        return std::nullopt;
    }
    return lufs;
}

std::optional<double> LevelMeter::speechLevelDb() const {
    return speech_ ? speech_->level() : std::nullopt;
}

std::optional<std::pair<uint64_t, uint64_t>> LevelMeter::soundBounds(double belowPeakDb,
                                                                     uint64_t margin) const {
    if (peak_ <= 0) return std::nullopt;
    const double threshold = -2 * (20 * std::log10(peak_) + belowPeakDb);
    const auto loudest = static_cast<std::size_t>(std::clamp(threshold, 0.0, kBands - 1.0));
    uint64_t first = std::numeric_limits<uint64_t>::max(), last = 0;
    for (std::size_t b = 0; b <= loudest; ++b) {
        first = std::min(first, first_[b]);
        if (first_[b] != std::numeric_limits<uint64_t>::max()) last = std::max(last, last_[b]);
    }
    return std::pair{first > margin ? first - margin : 0, std::min(samples_, last + 1 + margin)};
}

double LevelMeter::endsBelowPeakDb(uint64_t edge) const {
    std::size_t start = kBands - 1, end = kBands - 1;  // the loudest band at each end
    for (std::size_t b = kBands; b-- > 0;) {
        if (first_[b] == std::numeric_limits<uint64_t>::max()) continue;
        if (first_[b] < edge) start = b;
        if (last_[b] + edge >= samples_) end = b;
    }
    return -0.5 * static_cast<double>(std::max(start, end)) - 20 * std::log10(peak_);
}

Limiter::Limiter(float ceiling, uint32_t rate)
    : ceiling_(ceiling),
      lookahead_(std::max<std::size_t>(2, rate / 200)),  // 5 ms
      release_(1 - std::exp(-1.0 / (0.05 * rate))) {}    // 50 ms

// The gain applied to a sample is the mean of the window minima over the look-ahead, each
// of which covers that sample, so it never exceeds the gain the sample needs.
void Limiter::push(float x, std::vector<float>& out) {
    const double need = std::fabs(x) > ceiling_ ? ceiling_ / std::fabs(x) : 1.0;
    while (!min_.empty() && min_.back().second >= need) min_.pop_back();
    min_.emplace_back(at_, need);
    if (min_.front().first + lookahead_ <= at_) min_.pop_front();
    // Recovers towards 1, and is 1 again once within 0.01 dB of it.
    recovering_ = recovering_ + (1 - recovering_) * release_;
    if (recovering_ > 0.9988) recovering_ = 1;
    recovering_ = std::min(min_.front().second, recovering_);
    smoothed_.push_back(recovering_);
    sum_ += recovering_;
    if (smoothed_.size() > lookahead_) {
        sum_ -= smoothed_.front();
        smoothed_.pop_front();
    }
    held_.push_back(x);
    ++at_;
    if (held_.size() < lookahead_) return;
    const float in = held_.front();
    held_.pop_front();
    const double needed = std::fabs(in) > ceiling_ ? ceiling_ / std::fabs(in) : 1.0;
    const double gain = std::min(sum_ / static_cast<double>(smoothed_.size()), needed);
    const auto y = static_cast<float>(in * gain);
    changed_ += y != in;
    out.push_back(y);
}

void Limiter::flush(std::vector<float>& out) {
    for (std::size_t i = 1; i < lookahead_; ++i) push(0, out);
}

}  // namespace kestrune::detail
