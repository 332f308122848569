#include "audio/audioInput.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "adpFile.h"
#include "io/status.h"

namespace {

constexpr std::size_t kBlockFrames = 4096;

}  // namespace

uint32_t defaultDeviceRate(uint32_t sourceRate) {
    uint32_t best = kAcceptedRates.front();
    for (const uint32_t rate : kAcceptedRates) {
        if (rate <= sourceRate) best = rate;
    }
    return best;
}

AudioInput::AudioInput() = default;

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

}  // namespace

AudioInput::~AudioInput() {
    if (resampler_ != nullptr) {
        CachedResampler& cache = cachedResampler;
        if (cache.resampler != nullptr) soxr_delete(cache.resampler);
        cache.resampler = std::exchange(resampler_, nullptr);
        cache.from = sourceRate();
        cache.to = static_cast<uint32_t>(outRate_);
    }
    reader_.reset();
    if (fd_ >= 0) close(fd_);
    if (spool_ != nullptr) std::fclose(spool_);
}

// The largest magnitude of the mixed or chosen channel, read through once.
int AudioInput::peak(float* value) {
    *value = 0;
    while (refill() > 0) {
        for (const float v : mono_) *value = std::max(*value, std::fabs(v));
    }
    if (status_ != kStatusFinished) return status_;
    if (!rewind()) return fail(kStatusRead, "cannot read the audio twice to find its peak");
    return kStatusFinished;
}

// Starts reading from the beginning again, as if just opened.
bool AudioInput::rewind() {
    if (!reader_->rewind()) return false;
    if (resampler_ != nullptr && soxr_clear(resampler_) != nullptr) return false;
    ended_ = flushed_ = false;
    ready_.clear();
    readyAt_ = 0;
    clipped_ = nonFinite_ = 0;
    framesRead_ = 0;
    truncation_.clear();
    shaped_.clear();
    shapedAt_ = 0;
    position_ = 0;
    shapedEnd_ = false;
    if (shaping_) shape(*shaping_);  // a fresh limiter
    return true;
}

std::optional<uint64_t> AudioInput::countSamples() {
    uint64_t n = 0;
    std::vector<int16_t> scratch(4096);
    for (std::ptrdiff_t got; (got = read(scratch)) > 0;) n += static_cast<uint64_t>(got);
    if (status_ != kStatusFinished || !rewind()) return std::nullopt;
    return n;
}

int AudioInput::start(const AudioOptions& options, uint32_t rate) {
    if (options.channel < 0 || options.channel > reader_->channels()) {
        return fail(kStatusFormat, "has no channel " + std::to_string(options.channel) +
                                       " (it has " + std::to_string(reader_->channels()) + ")");
    }
    channel_ = options.channel;
    outputRate_ = rate;
    frames_.resize(kBlockFrames * static_cast<std::size_t>(reader_->channels()));
    scale_ = 1;  // the peak is measured unscaled
    if (options.normalizeDbfs) {
        float top = 0;
        if (peak(&top) != kStatusFinished) return status_;
        // 0 dBFS is the largest positive sample, 32767: a peak taken there is not clipped.
        const double level = std::min(std::pow(10.0, *options.normalizeDbfs / 20), 32767 / 32768.0);
        if (top > 0) scale_ = static_cast<float>(level / top);
    } else {
        scale_ = static_cast<float>(std::pow(10.0, options.gainDb / 20));
    }
    CachedResampler& cache = cachedResampler;
    if (rate != sourceRate() && cache.resampler != nullptr && cache.from == sourceRate() &&
        cache.to == rate && soxr_clear(cache.resampler) == nullptr) {
        resampler_ = std::exchange(cache.resampler, nullptr);
        outRate_ = rate;
    } else if (rate != sourceRate()) {
        soxr_error_t failure = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        resampler_ = soxr_create(sourceRate(), rate, 1, &failure, &io, &quality, &runtime);
        outRate_ = rate;
        if (resampler_ == nullptr || failure != nullptr) {
            return fail(kStatusMemory, std::string("cannot resample: ") + soxr_strerror(failure));
        }
    }
    return kStatusFinished;
}

// Reads a block of frames into mono_, mixed or one channel taken and scaled.
std::size_t AudioInput::refill() {
    mono_.clear();
    if (ended_) return 0;
    const std::size_t got = reader_->read(frames_);
    const auto channels = static_cast<std::size_t>(reader_->channels());
    framesRead_ += static_cast<int64_t>(got);
    if (got < kBlockFrames) {
        ended_ = true;
        const char* failure = reader_->failure();
        const bool failed = failure != nullptr;
        // Nothing at all is a failure; some audio and then none is a recording cut short.
        if (failed && framesRead_ == 0) {
            fail(kStatusRead, std::string("cannot read the audio: ") + failure);
            return 0;
        }
        truncation_ = reader_->shortfall(framesRead_, failure);
    }
    // NaN and infinities are silence; a mix or a resampler would spread them. Finite
    // samples are held within 2^24 (144 dB over full scale, where any sample has long
    // clipped), so that no mix, resampler, gain or level of them overflows to infinity.
    constexpr float kMost = 16777216.0f;
    for (std::size_t i = 0; i < got * channels; ++i) {
        if (!std::isfinite(frames_[i])) {
            frames_[i] = 0;
            ++nonFinite_;
        }
        frames_[i] = std::clamp(frames_[i], -kMost, kMost);
    }
    mono_.resize(static_cast<std::size_t>(got));
    if (channel_ > 0 || channels == 1) {
        const std::size_t c = channel_ > 0 ? static_cast<std::size_t>(channel_ - 1) : 0;
        for (std::size_t f = 0; f < mono_.size(); ++f) mono_[f] = frames_[f * channels + c];
    } else {
        const float share = 1.0f / static_cast<float>(channels);  // the mean
        for (std::size_t f = 0; f < mono_.size(); ++f) {
            float v = 0;
            for (std::size_t c = 0; c < channels; ++c) v += frames_[f * channels + c];
            mono_[f] = v * share;
        }
    }
    return mono_.size();
}

// Appends to ready_ what the resampler makes of `in`; with no input, what it still holds.
bool AudioInput::resample(std::span<const float> in) {
    std::size_t at = 0;
    for (;;) {
        const std::size_t room = (in.size() - at) * outRate_ / sourceRate() + 1024;
        const std::size_t base = ready_.size();
        ready_.resize(base + room);
        std::size_t used = 0, made = 0;
        const soxr_error_t failure =
            soxr_process(resampler_, in.empty() ? nullptr : in.data() + at, in.size() - at, &used,
                         ready_.data() + base, room, &made);
        ready_.resize(base + made);
        if (failure != nullptr) {
            fail(kStatusMemory, std::string("cannot resample: ") + failure);
            return false;
        }
        at += used;
        if (in.empty() ? made == 0 : at == in.size()) return true;
    }
}

// Fills ready_ with the next samples at the device rate; false when there are no more.
bool AudioInput::produce() {
    ready_.clear();
    readyAt_ = 0;
    while (ready_.empty() && !flushed_) {
        refill();
        if (status_ != kStatusFinished) return false;
        if (resampler_ == nullptr) {
            ready_.swap(mono_);
            flushed_ = ended_ && ready_.empty();
        } else {
            if (!mono_.empty() && !resample(mono_)) return false;
            if (ended_) {
                if (!resample({})) return false;
                flushed_ = true;
            }
        }
    }
    return !ready_.empty();
}

int AudioInput::analyse(LevelMeter* meter) {
    std::vector<float> block(4096);
    for (std::size_t n; (n = pull(block)) > 0;) meter->add(std::span(block).first(n));
    if (status_ != kStatusFinished) return status_;
    if (!rewind()) return fail(kStatusRead, "cannot read the audio twice to measure it");
    return kStatusFinished;
}

int AudioInput::level(const Levelling& l, double ceilingDb, LevelResult* result) {
    const uint32_t rate = outputRate();
    const auto amplitude = [](double db) { return static_cast<float>(std::pow(10.0, db / 20)); };
    const auto levelOf = [&](const LevelMeter& m) {
        return l.loudnessLufs ? m.loudnessLufs() : m.speechLevelDb();
    };
    const auto measure = [&](const Shaping& s, LevelMeter* meter) {
        shape(s);
        return analyse(meter);
    };
    Shaping shaping;
    LevelMeter whole(rate, true, l.speechLevelDb.has_value());
    if (measure(shaping, &whole) != kStatusFinished) return status_;
    result->loudnessIn = whole.loudnessLufs();
    if (l.trimDb) {
        const auto margin = static_cast<uint64_t>(l.trimMarginMs * rate / 1000);
        const auto bounds = whole.soundBounds(*l.trimDb, margin);
        // A silent recording stays a short silence rather than nothing.
        const auto [begin, end] =
            bounds.value_or(std::pair{0, std::min(whole.samples(), 2 * margin)});
        char text[160];
        if (!bounds) {
            std::snprintf(text, sizeof text, "silent; trimmed to its first %llu ms",
                          static_cast<unsigned long long>(end * 1000 / rate));
            result->warnings.push_back(text);
        } else if (const std::pair<uint64_t, uint64_t> all{0, whole.samples()};
                   std::pair{begin, end} == all &&
                   whole.soundBounds(*l.trimDb, rate / 100) == all) {
            // Sound within 10 ms of either end: a background above the threshold.
            std::snprintf(text, sizeof text,
                          "nothing trimmed: its ends lie only %.1f dB under its peak, above the "
                          "trim threshold of %g dB",
                          -whole.endsBelowPeakDb(rate / 100), *l.trimDb);
            result->warnings.push_back(text);
        }
        shaping.skip = begin;
        shaping.keep = end - begin;
        result->trimStartMs = static_cast<double>(begin) * 1000 / rate;
        result->trimEndMs = static_cast<double>(whole.samples() - end) * 1000 / rate;
    }
    std::optional<double> ceiling = l.peakDbfs;
    if (l.target()) {
        const double target = l.loudnessLufs ? *l.loudnessLufs : *l.speechLevelDb;
        // What is kept is measured, as it will be played.
        LevelMeter kept(rate, l.loudnessLufs.has_value(), l.speechLevelDb.has_value());
        const bool trimmed = shaping.skip > 0 || shaping.keep < whole.samples();
        if (trimmed && measure(shaping, &kept) != kStatusFinished) return status_;
        std::optional<double> now = levelOf(trimmed ? kept : whole);
        if (!now && trimmed && (now = levelOf(whole))) {
            result->warnings.push_back(
                "too short to measure once trimmed (under 0.4 s); levelled by the whole "
                "recording");
        }
        if (!ceiling) ceiling = ceilingDb;
        if (now) {
            result->gainDb = target - *now;
            shaping.gain = amplitude(*result->gainDb);
            shaping.ceiling = amplitude(*ceiling);
            // The limiter lowers the level it holds under the ceiling: the gain makes up
            // for what it took, measured through it once.
            if (whole.peak() * shaping.gain > *shaping.ceiling) {
                LevelMeter limited(rate, l.loudnessLufs.has_value(), l.speechLevelDb.has_value());
                if (measure(shaping, &limited) != kStatusFinished) return status_;
                if (const auto after = levelOf(limited); after && *after < target) {
                    *result->gainDb += target - *after;
                    shaping.gain = amplitude(*result->gainDb);
                }
            }
        } else {
            result->warnings.push_back(l.loudnessLufs
                                           ? "too short or quiet to measure its loudness; its "
                                             "level is left as it is"
                                           : "no speech found; its level is left as it is");
        }
    }
    if (ceiling) shaping.ceiling = amplitude(*ceiling);
    shape(shaping);
    return kStatusFinished;
}

void AudioInput::shape(const Shaping& shaping) {
    shaping_ = shaping;
    if (shaping.ceiling) limiter_ = std::make_unique<Limiter>(*shaping.ceiling, outputRate());
}

// The next sample cut, scaled and limited; false at the end.
bool AudioInput::nextShaped(float* v) {
    while (shapedAt_ == shaped_.size()) {
        shaped_.clear();
        shapedAt_ = 0;
        if (shapedEnd_) return false;
        const bool more =
            position_ < shaping_->skip + shaping_->keep && (readyAt_ < ready_.size() || produce());
        if (!more) {
            if (limiter_) limiter_->flush(shaped_);
            shapedEnd_ = true;
            continue;
        }
        const float x = ready_[readyAt_++] * scale_;
        if (position_++ < shaping_->skip) continue;
        if (limiter_) {
            limiter_->push(x * shaping_->gain, shaped_);
        } else {
            shaped_.push_back(x * shaping_->gain);
        }
    }
    *v = shaped_[shapedAt_++];
    return true;
}

// The next samples, full scale being 1: scaled, and shaped when asked.
std::size_t AudioInput::pull(std::span<float> out) {
    std::size_t n = 0;
    if (shaping_) {
        for (float v; n < out.size() && nextShaped(&v);) out[n++] = v;
    } else {
        while (n < out.size() && (readyAt_ < ready_.size() || produce())) {
            out[n++] = ready_[readyAt_++] * scale_;
        }
    }
    return n;
}

std::ptrdiff_t AudioInput::read(std::span<int16_t> out) {
    pulled_.resize(out.size());
    const std::size_t n = pull(pulled_);
    for (std::size_t i = 0; i < n; ++i) {
        // Rounded to the nearest, ties to even, by the float unit itself: past 1.5 * 2^23
        // no fraction bits are left. Held within 2^22 first (no sample is near that).
        const float v = pulled_[i] * 32768.0f;
        const float held = std::clamp(std::isnan(v) ? 0.0f : v, -4194304.0f, 4194304.0f);
        const float rounded = (held + 12582912.0f) - 12582912.0f;
        const float kept = std::clamp(rounded, -32768.0f, 32767.0f);
        clipped_ += kept != rounded;
        out[i] = static_cast<int16_t>(kept);
    }
    return status_ == kStatusFinished ? static_cast<std::ptrdiff_t>(n) : -1;
}

int AudioInput::fail(int status, std::string problem) {
    status_ = status;
    problem_ = std::move(problem);
    return status;
}
