#include "codec/quality.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A frame quieter than -60 dBFS (RMS) is silence: its SNR says nothing of the speech.
constexpr double kSilentMeanSquare = 32768.0 * 32768.0 * 1e-6;
constexpr double kFrameFloorDb = -10;
constexpr double kFrameCeilingDb = 35;

}  // namespace

QualityMeter::QualityMeter(uint32_t rate) : frameLength_(std::max<uint32_t>(1, rate / 50)) {}

void QualityMeter::add(std::span<const int16_t> source, std::span<const int16_t> played) {
    const std::size_t n = std::min(source.size(), played.size());
    for (std::size_t i = 0; i < n; ++i) {
        const double x = source[i];
        const double d = x - played[i];
        frameSignal_ += x * x;
        frameError_ += d * d;
        if (++inFrame_ == frameLength_) closeFrame();
    }
    samples_ += n;
}

void QualityMeter::closeFrame() {
    signal_ += frameSignal_;
    error_ += frameError_;
    if (frameSignal_ / inFrame_ >= kSilentMeanSquare) {
        const double db =
            frameError_ == 0 ? kFrameCeilingDb : 10 * std::log10(frameSignal_ / frameError_);
        segSum_ += std::clamp(db, kFrameFloorDb, kFrameCeilingDb);
        ++frames_;
    }
    frameSignal_ = frameError_ = 0;
    inFrame_ = 0;
}

double QualityMeter::snrDb() const {
    const double signal = signal_ + frameSignal_;
    const double error = error_ + frameError_;
    if (signal == 0) return 0;
    if (error == 0) return std::numeric_limits<double>::infinity();
    return 10 * std::log10(signal / error);
}

double QualityMeter::segSnrDb() const {
    return frames_ == 0 ? 0 : segSum_ / static_cast<double>(frames_);
}
