#include <algorithm>

#include "audio/step.h"

namespace kestrune::detail {

namespace {

class Mix final : public Step {
public:
    explicit Mix(int channel) : channel_(channel) {}
    Done run(Block& block) override {
        const auto channels = static_cast<std::size_t>(block.channels);
        const std::size_t frames = block.samples.size() / channels;
        mono_.resize(frames);
        const std::vector<float>& in = block.samples;
        if (channel_ > 0 || channels == 1) {
            const std::size_t c = channel_ > 0 ? static_cast<std::size_t>(channel_ - 1) : 0;
            for (std::size_t f = 0; f < frames; ++f) mono_[f] = in[f * channels + c];
        } else {
            const float share = 1.0f / static_cast<float>(channels);  // the mean
            for (std::size_t f = 0; f < frames; ++f) {
                float v = 0;
                for (std::size_t c = 0; c < channels; ++c) v += in[f * channels + c];
                mono_[f] = v * share;
            }
        }
        block.samples.swap(mono_);
        block.channels = 1;
        return {};
    }
    bool restart() override { return true; }

private:
    int channel_;
    std::vector<float> mono_;
};

class Gain final : public Step {
public:
    explicit Gain(float factor) : factor_(factor) {}
    Done run(Block& block) override {
        for (float& v : block.samples) v *= factor_;
        return {};
    }
    bool restart() override { return true; }

private:
    float factor_;
};

class Trim final : public Step {
public:
    Trim(uint64_t skip, uint64_t keep)
        : skip_(skip), end_(keep > UINT64_MAX - skip ? UINT64_MAX : skip + keep) {}
    Done run(Block& block) override {
        const uint64_t n = block.samples.size();
        const uint64_t from = std::clamp(skip_, at_, at_ + n) - at_;
        const uint64_t to = std::clamp(end_, at_, at_ + n) - at_;
        block.samples.erase(block.samples.begin() + static_cast<std::ptrdiff_t>(to),
                            block.samples.end());
        block.samples.erase(block.samples.begin(),
                            block.samples.begin() + static_cast<std::ptrdiff_t>(from));
        at_ += n;
        return {};
    }
    bool done() const override { return at_ >= end_; }
    bool restart() override {
        at_ = 0;
        return true;
    }

private:
    uint64_t skip_, end_, at_ = 0;
};

}  // namespace

std::unique_ptr<Step> mixStep(int channel) {
    return std::make_unique<Mix>(channel);
}

std::unique_ptr<Step> gainStep(float factor) {
    return std::make_unique<Gain>(factor);
}

std::unique_ptr<Step> trimStep(uint64_t skip, uint64_t keep) {
    return std::make_unique<Trim>(skip, keep);
}

Done LimitStep::run(Block& block) {
    out_.clear();
    for (const float x : block.samples) limiter_->push(x, out_);
    block.samples.swap(out_);
    return {};
}

Done LimitStep::end(Block& block) {
    limiter_->flush(block.samples);
    return {};
}

bool LimitStep::restart() {
    limiter_ = std::make_unique<Limiter>(ceiling_, rate_);
    return true;
}

}  // namespace kestrune::detail
