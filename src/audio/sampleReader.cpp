// Interleaved float samples held by the caller, read as a recording.
#include <algorithm>

#include "audio/reader.h"

namespace kestrune::detail {

namespace {

class SampleReader final : public Reader {
public:
    SampleReader(std::span<const float> samples, uint32_t rate, int channels)
        : samples_(samples), rate_(rate), channels_(channels) {}
    uint32_t rate() const override { return rate_; }
    int channels() const override { return channels_; }
    int64_t frames() const override {
        return static_cast<int64_t>(samples_.size() / static_cast<std::size_t>(channels_));
    }
    std::size_t read(std::span<float> out) override {
        const std::size_t n = std::min(out.size(), samples_.size() - at_);
        std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(at_), n, out.begin());
        at_ += n;
        return n / static_cast<std::size_t>(channels_);
    }
    const char* failure() const override { return nullptr; }
    bool rewind() override {
        at_ = 0;
        return true;
    }
    std::string shortfall(int64_t, const char*) const override { return ""; }

private:
    std::span<const float> samples_;
    uint32_t rate_;
    int channels_;
    std::size_t at_ = 0;
};

}  // namespace

ReaderOutcome sampleReader(std::span<const float> samples, uint32_t rate, int channels) {
    if (rate == 0 || channels < 1 || samples.size() % static_cast<std::size_t>(channels) != 0) {
        return Failure{kStatusFormat,
                       "not audio that can be read: no sample rate, no channels, or not a whole "
                       "number of frames"};
    }
    return ReaderOutcome(std::make_unique<SampleReader>(samples, rate, channels));
}

}  // namespace kestrune::detail
