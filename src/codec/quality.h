// How close what the decoder plays is to the source: plain SNR over the whole stream,
// and segmental SNR over 20 ms frames (silent frames skipped, each frame's SNR held
// within -10 ... 35 dB so that no single frame dominates).
#pragma once

#include <cstdint>
#include <span>

class QualityMeter {
public:
    explicit QualityMeter(uint32_t rate);

    // Adds samples of the source and, in step with them, what the decoder plays.
    void add(std::span<const int16_t> source, std::span<const int16_t> played);

    double snrDb() const;     // +inf for an exact copy; 0 for no signal
    double segSnrDb() const;  // mean over the frames that are not silent; 0 if there are none
    uint64_t samples() const { return samples_; }

private:
    void closeFrame();

    uint32_t frameLength_;
    uint64_t samples_ = 0;
    double signal_ = 0, error_ = 0;            // whole stream
    double frameSignal_ = 0, frameError_ = 0;  // current frame
    uint32_t inFrame_ = 0;
    double segSum_ = 0;
    uint64_t frames_ = 0;
};
