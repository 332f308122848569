// Resampling with soxr at high quality, one channel.
#include <soxr.h>

#include <utility>

#include "audio/step.h"

namespace kestrune::detail {

namespace {

// The resampler a thread used last, kept for its next file: designing the filter costs
// more than resampling a short prompt. Cleared before reuse, it starts afresh.
struct CachedResampler {
    soxr_t resampler = nullptr;
    uint32_t from = 0, to = 0;
    CachedResampler() = default;
    CachedResampler(const CachedResampler&) = delete;
    CachedResampler& operator=(const CachedResampler&) = delete;
    ~CachedResampler() {
        if (resampler != nullptr) soxr_delete(resampler);
    }
};
thread_local CachedResampler cachedResampler;

class Resample final : public Step {
public:
    Resample(soxr_t resampler, uint32_t from, uint32_t to)
        : resampler_(resampler), from_(from), to_(to) {}
    Resample(const Resample&) = delete;
    Resample& operator=(const Resample&) = delete;
    ~Resample() override {
        CachedResampler& cache = cachedResampler;
        if (cache.resampler != nullptr) soxr_delete(cache.resampler);
        cache.resampler = resampler_;
        cache.from = from_;
        cache.to = to_;
    }

    Done run(Block& block) override {
        if (block.samples.empty()) return {};
        out_.clear();
        if (Done made = process(block.samples); !made) return made;
        block.samples.swap(out_);
        return {};
    }
    Done end(Block& block) override {
        out_.clear();
        if (Done made = process({}); !made) return made;
        block.samples.insert(block.samples.end(), out_.begin(), out_.end());
        return {};
    }
    bool restart() override { return soxr_clear(resampler_) == nullptr; }

private:
    // Appends to out_ what the resampler makes of `in`; with no input, what it still holds.
    Done process(std::span<const float> in) {
        std::size_t at = 0;
        for (;;) {
            const std::size_t room = (in.size() - at) * to_ / from_ + 1024;
            const std::size_t base = out_.size();
            out_.resize(base + room);
            std::size_t used = 0, made = 0;
            const soxr_error_t failure =
                soxr_process(resampler_, in.empty() ? nullptr : in.data() + at, in.size() - at,
                             &used, out_.data() + base, room, &made);
            out_.resize(base + made);
            if (failure != nullptr) {
                return Failure{kStatusMemory, std::string("cannot resample: ") + failure};
            }
            at += used;
            if (in.empty() ? made == 0 : at == in.size()) return {};
        }
    }

    soxr_t resampler_;
    uint32_t from_, to_;
    std::vector<float> out_;
};

}  // namespace

Outcome<std::unique_ptr<Step>> resampleStep(uint32_t from, uint32_t to) {
    CachedResampler& cache = cachedResampler;
    if (cache.resampler != nullptr && cache.from == from && cache.to == to &&
        soxr_clear(cache.resampler) == nullptr) {
        return std::unique_ptr<Step>(
            std::make_unique<Resample>(std::exchange(cache.resampler, nullptr), from, to));
    }
    soxr_error_t failure = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_t resampler = soxr_create(from, to, 1, &failure, &io, &quality, &runtime);
    if (resampler == nullptr || failure != nullptr) {
        if (resampler != nullptr) soxr_delete(resampler);
        return Failure{kStatusMemory, std::string("cannot resample: ") + soxr_strerror(failure)};
    }
    return std::unique_ptr<Step>(std::make_unique<Resample>(resampler, from, to));
}

}  // namespace kestrune::detail
