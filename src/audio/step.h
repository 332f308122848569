// The processing steps a recording flows through, in order, as sox's effects chain does:
// mix (or take one channel), resample, gain, trim, gain, limit. Each takes a block of
// samples and gives what it makes of it; at the end of the stream it gives what it still
// holds. A new step is one class here (or in a file of its own) and one place in the chain
// that AudioInput builds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/level.h"
#include "io/failure.h"

namespace kestrune::detail {

// Samples, full scale being 1, interleaved when there is more than one channel.
struct Block {
    std::vector<float> samples;
    int channels = 1;
};

class Step {
public:
    virtual ~Step() = default;
    // Replaces `block` by what the step makes of it, or fails saying why it cannot.
    virtual Done run(Block& block) = 0;
    // The stream is over: appends to `block` what the step still holds.
    virtual Done end(Block& /*block*/) { return {}; }
    // True once the step takes no more input: what comes before it need not be read.
    virtual bool done() const { return false; }
    // As it was before the first block, for another pass; false when it cannot be.
    virtual bool restart() = 0;
};

// Channel `channel` (1 = the first), or, for 0, the mean of all channels.
std::unique_ptr<Step> mixStep(int channel);
// Every sample scaled by `factor`.
std::unique_ptr<Step> gainStep(float factor);
// The `skip` samples at the start dropped, the `keep` after them kept, the rest dropped.
std::unique_ptr<Step> trimStep(uint64_t skip, uint64_t keep);
// soxr at high quality, from one rate to another; fails (kStatusMemory) when it cannot be made.
Outcome<std::unique_ptr<Step>> resampleStep(uint32_t from, uint32_t to);

// Holds every sample within +-ceiling (Limiter), counting the samples it changed.
class LimitStep final : public Step {
public:
    LimitStep(float ceiling, uint32_t rate) : ceiling_(ceiling), rate_(rate) { restart(); }
    Done run(Block& block) override;
    Done end(Block& block) override;
    bool restart() override;
    uint64_t changed() const { return limiter_->changed(); }

private:
    float ceiling_;
    uint32_t rate_;
    std::unique_ptr<Limiter> limiter_;
    std::vector<float> out_;
};

}  // namespace kestrune::detail
