#include "codec/weighting.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

constexpr double kGammaZeros = 0.8;
constexpr double kGammaPoles = 0.65;
constexpr double kLagHz = 60;
constexpr double kNoiseFloor = 1.0001;  // white noise at -40 dB keeps the predictor stable

// cos and exp by their series: the same bits on every machine, unlike the library's,
// which may take another path on another CPU.
double cosine(double x) {  // 0 <= x <= 2 pi
    const double y = x - std::numbers::pi;
    double term = 1, sum = 1;
    for (int n = 1; n <= 30; ++n) {
        term *= -y * y / ((2 * n - 1) * (2 * n));
        sum += term;
    }
    return -sum;
}

double exponential(double x) {  // |x| < 1
    double term = 1, sum = 1;
    for (int n = 1; n <= 30; ++n) {
        term *= x / n;
        sum += term;
    }
    return sum;
}

}  // namespace

void WeightingTaps::turn(const WeightingFilter& filter, int position) {
    taps = {};
    for (int j = 0; j < filter.order; ++j) {
        int k = (position - j) % filter.order;
        if (k <= 0) k += filter.order;
        const auto tap = static_cast<std::size_t>(k - 1);
        taps.lanes[static_cast<std::size_t>(j / 4)][j % 4] = filter.zeros[tap];
        taps.lanes[static_cast<std::size_t>(4 + j / 4)][j % 4] = -filter.poles[tap];
    }
}

WeightingFrames::WeightingFrames(uint32_t rate)
    : order_(static_cast<int>(std::clamp<uint32_t>(rate / 1000 + 2, 10, kMaxWeightingOrder))),
      frame_(std::max<uint32_t>(rate / 50, 1)),
      margin_(rate / 200),
      buffer_(margin_, 0) {
    const std::size_t length = frame_ + 2 * margin_;
    window_.resize(length);
    for (std::size_t i = 0; i < length; ++i) {
        const double x = length < 2 ? 0
                                    : 2 * std::numbers::pi * static_cast<double>(i) /
                                          static_cast<double>(length - 1);
        window_[i] = 0.54 - 0.46 * cosine(x);
    }
    const double rateHz = std::max<uint32_t>(rate, 1);
    for (std::size_t k = 0; k < lagWindow_.size(); ++k) {
        const double w = 2 * std::numbers::pi * kLagHz * static_cast<double>(k) / rateHz;
        lagWindow_[k] = exponential(-0.5 * w * w);
    }
}

void WeightingFrames::push(std::span<const int16_t> samples) {
    // Done samples go here, once per push rather than once per frame.
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
    buffer_.insert(buffer_.end(), samples.begin(), samples.end());
}

bool WeightingFrames::next(bool end, WeightingFilter* filter, std::span<const int16_t>* samples) {
    start_ += handedOut_;
    handedOut_ = 0;
    const std::size_t length = window_.size();
    const std::size_t held = buffer_.size() - start_;
    const std::size_t waiting = held - margin_;
    if (waiting == 0 || (!end && held < length)) return false;

    // The window, short of samples only at the end, where silence follows.
    const int16_t* x = buffer_.data() + start_;
    if (held < length) {
        padded_.assign(length, 0);
        std::copy(x, x + held, padded_.begin());
        x = padded_.data();
    }
    std::vector<double>& w = windowed_;
    w.resize(length);
    for (std::size_t i = 0; i < length; ++i) w[i] = window_[i] * x[i];
    std::array<double, kMaxWeightingOrder + 1> r{};
    for (int k = 0; k <= order_; ++k) {
        double sum = 0;
        for (std::size_t i = static_cast<std::size_t>(k); i < length; ++i) sum += w[i] * w[i - k];
        r[static_cast<std::size_t>(k)] = sum * lagWindow_[static_cast<std::size_t>(k)];
    }
    r[0] *= kNoiseFloor;

    // Levinson-Durbin: a[1..order] of A(z) = 1 + sum a_k z^-k; none for silence.
    std::array<double, kMaxWeightingOrder + 1> a{}, previous{};
    double residual = r[0];
    for (int i = 1; i <= order_ && residual > 0; ++i) {
        double acc = r[static_cast<std::size_t>(i)];
        for (int j = 1; j < i; ++j) {
            acc += a[static_cast<std::size_t>(j)] * r[static_cast<std::size_t>(i - j)];
        }
        const double reflection = -acc / residual;
        previous = a;
        for (int j = 1; j < i; ++j) {
            a[static_cast<std::size_t>(j)] +=
                reflection * previous[static_cast<std::size_t>(i - j)];
        }
        a[static_cast<std::size_t>(i)] = reflection;
        residual *= 1 - reflection * reflection;
    }
    filter->order = order_;
    double g1 = 1, g2 = 1;
    for (int k = 1; k <= order_; ++k) {
        g1 *= kGammaZeros;
        g2 *= kGammaPoles;
        const auto at = static_cast<std::size_t>(k);
        filter->zeros[at - 1] = static_cast<float>(a[at] * g1);
        filter->poles[at - 1] = static_cast<float>(a[at] * g2);
    }
    handedOut_ = std::min(frame_, waiting);
    *samples = std::span<const int16_t>(buffer_).subspan(start_ + margin_, handedOut_);
    return true;
}

WeightedMeter::WeightedMeter(uint32_t rate) : frames_(rate) {}

void WeightedMeter::add(std::span<const int16_t> source, std::span<const int16_t> played) {
    const std::size_t n = std::min(source.size(), played.size());
    frames_.push(source.first(n));
    played_.insert(played_.end(), played.begin(), played.begin() + static_cast<std::ptrdiff_t>(n));
    WeightingFilter filter;
    std::span<const int16_t> frame;
    while (frames_.next(false, &filter, &frame)) measure(filter, frame);
}

void WeightedMeter::finish() {
    WeightingFilter filter;
    std::span<const int16_t> frame;
    while (frames_.next(true, &filter, &frame)) measure(filter, frame);
}

void WeightedMeter::measure(const WeightingFilter& filter, std::span<const int16_t> source) {
    WeightingTaps taps;
    const auto order = static_cast<std::size_t>(filter.order);
    for (const int16_t s : source) {
        taps.turn(filter, position_);
        const auto at = static_cast<std::size_t>(position_);
        const int32_t e = s - played_[playedAt_++];
        const int32_t ew = e + roundFeedback(taps.feedback(errorMemory_));
        error_ += static_cast<uint64_t>(int64_t{ew} * ew);
        errorMemory_ = errorMemory_.with(position_, static_cast<float>(e), static_cast<float>(ew));
        const float sw = static_cast<float>(s) + taps.feedback(signalMemory_);
        signalEnergy_ += static_cast<double>(sw) * sw;
        signalMemory_ = signalMemory_.with(position_, s, sw);
        position_ = static_cast<int>((at + 1) % order);
    }
    played_.erase(played_.begin(), played_.begin() + static_cast<std::ptrdiff_t>(playedAt_));
    playedAt_ = 0;
}

double WeightedMeter::snrDb() const {
    if (signalEnergy_ == 0) return 0;
    if (error_ == 0) return std::numeric_limits<double>::infinity();
    return 10 * std::log10(signalEnergy_ / static_cast<double>(error_));
}
