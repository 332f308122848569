// Perceptual noise weighting: the error e = source - playback judged through
// W(z) = A(z/g1) / A(z/g2), where A(z) = 1 + sum a_k z^-k is the linear predictor of the
// source over a 20 ms frame (a 30 ms window centred on it):
//   ew[n] = e[n] + sum a_k g1^k e[n-k] - sum a_k g2^k ew[n-k].
// W lowers the error under the formants, where the speech masks it, and raises it in the
// valleys between them, where it is heard: the noise shaping of speech coders.
//
// What decides codes is computed by +, -, * and / alone, in a fixed order (no library
// functions, no contraction), so that the same samples give the same codes on every CPU.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

inline constexpr int kMaxWeightingOrder = 16;

// One frame's filter: the taps of e[n-k] and of ew[n-k], k = 1 ... order.
struct WeightingFilter {
    int order = 0;
    std::array<float, kMaxWeightingOrder> zeros{};  // a_k g1^k
    std::array<float, kMaxWeightingOrder> poles{};  // a_k g2^k
};

// Four floats, or four lane masks, that the compiler keeps in vector registers.
using WeightingLanes = float __attribute__((vector_size(16)));
using WeightingMask = int32_t __attribute__((vector_size(16)));

// The filter's memory of one error sequence: its last `order` errors (lanes 0-3), then its
// last `order` weighted errors (lanes 4-7), each in a ring whose position the caller keeps
// (every path of a search shares it). Slots past the order stay zero. Written whole
// lanes at a time, so that reading it back is never held up by a partial store.
struct WeightingMemory {
    std::array<WeightingLanes, 8> lanes{};

    // This memory with the error and weighted error of the sample at ring slot
    // 4 * Group + at.
    template <int Group>
    WeightingMemory with(int at, float error, float weighted) const {
        const WeightingMask here = WeightingMask{0, 1, 2, 3} == at;
        const auto blend = [&](WeightingLanes old, float value) {
            const WeightingLanes fresh = WeightingLanes{} + value;
            return reinterpret_cast<WeightingLanes>(
                (reinterpret_cast<WeightingMask>(old) & ~here) |
                (reinterpret_cast<WeightingMask>(fresh) & here));
        };
        WeightingMemory m = *this;
        m.lanes[Group] = blend(lanes[Group], error);
        m.lanes[4 + Group] = blend(lanes[4 + Group], weighted);
        return m;
    }
    // The same at ring slot `at`.
    WeightingMemory with(int at, float error, float weighted) const {
        switch (at >> 2) {
            case 0:
                return with<0>(at & 3, error, weighted);
            case 1:
                return with<1>(at & 3, error, weighted);
            case 2:
                return with<2>(at & 3, error, weighted);
            default:
                return with<3>(at & 3, error, weighted);
        }
    }
};

// The taps of one sample, turned to the ring's position: at position p the slot j holds
// the value of k = (p - j) mod order samples ago (order for 0). Poles are negated, so
// that the filter's feedback is one dot product.
struct WeightingTaps {
    WeightingMemory taps;
    void turn(const WeightingFilter& filter, int position);
    // sum a_k g1^k e[n-k] - sum a_k g2^k ew[n-k], in four lanes, summed in a fixed order.
    float feedback(const WeightingMemory& memory) const {
        const auto& t = taps.lanes;
        const auto& m = memory.lanes;
        const WeightingLanes sum = ((t[0] * m[0] + t[1] * m[1]) + (t[2] * m[2] + t[3] * m[3])) +
                                   ((t[4] * m[4] + t[5] * m[5]) + (t[6] * m[6] + t[7] * m[7]));
        return (sum[0] + sum[2]) + (sum[1] + sum[3]);
    }
};

// The feedback as a whole sample offset, bounded so that squared errors stay far below
// the search's cost cap.
// Rounded half away from zero without a branch: the sign is as random as the signal.
inline int32_t roundFeedback(float feedback) {
    constexpr float kBound = 1 << 20;
    const float f = std::min(std::max(feedback, -kBound), kBound);
    return static_cast<int32_t>(f + std::copysign(0.5f, f));
}

// The source cut into frames, each with its filter once the window around it has arrived.
// The filters depend only on the samples, not on how they are pushed.
class WeightingFrames {
public:
    explicit WeightingFrames(uint32_t rate);

    void push(std::span<const int16_t> samples);

    // The next frame whose window is complete: its filter and samples, valid until the
    // next call. At the end (all samples pushed), also the frames that are not.
    bool next(bool end, WeightingFilter* filter, std::span<const int16_t>* samples);

    int order() const { return order_; }
    // The samples after the last frame returned: at least margin() of them until the end.
    std::span<const int16_t> following() const {
        return std::span<const int16_t>(buffer_).subspan(start_ + margin_ + handedOut_);
    }
    std::size_t margin() const { return margin_; }

private:
    int order_;
    std::size_t frame_, margin_;
    std::vector<double> window_;                              // Hamming, frame + 2 margins
    std::array<double, kMaxWeightingOrder + 1> lagWindow_{};  // 60 Hz Gaussian
    std::vector<int16_t>
        buffer_;                 // from start_: the margin before the current frame, then the rest
    std::size_t start_ = 0;      // samples already done, dropped at the next push
    std::size_t handedOut_ = 0;  // samples of the last frame returned
    std::vector<int16_t> padded_;
    std::vector<double> windowed_;
};

// The weighted error of a playback against its source, computed as the search predicts it,
// and the weighted SNR: sum (W source)^2 / sum ew^2.
class WeightedMeter {
public:
    explicit WeightedMeter(uint32_t rate);
    void add(std::span<const int16_t> source, std::span<const int16_t> played);
    void finish();  // measures the samples still waiting for the end of their window

    uint64_t squaredError() const { return error_; }
    double snrDb() const;  // +inf for an exact copy; 0 for no signal

private:
    void measure(const WeightingFilter& filter, std::span<const int16_t> source);

    WeightingFrames frames_;
    std::vector<int16_t> played_;  // waiting for their frame
    std::size_t playedAt_ = 0;
    WeightingMemory errorMemory_{}, signalMemory_{};
    int position_ = 0;
    uint64_t error_ = 0;
    double signalEnergy_ = 0;
};
