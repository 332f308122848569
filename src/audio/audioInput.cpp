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

namespace kestrune::detail {

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

AudioInput::~AudioInput() {
    steps_.clear();
    reader_.reset();
    if (fd_ >= 0) close(fd_);
    if (spool_ != nullptr) std::fclose(spool_);
}

// The largest magnitude of the mixed or chosen channel, read through once.
int AudioInput::peak(float* value) {
    *value = 0;
    std::vector<float> block(kBlockFrames);
    for (std::size_t n; (n = pull(block)) > 0;) {
        for (const float v : std::span(block).first(n)) *value = std::max(*value, std::fabs(v));
    }
    if (failure_.status != kStatusFinished) return failure_.status;
    if (!rewind())
        return fail(Failure{kStatusRead, "cannot read the audio twice to find its peak"});
    return kStatusFinished;
}

// Starts reading from the beginning again, as if just opened.
bool AudioInput::rewind() {
    if (!reader_->rewind()) return false;
    for (const auto& step : steps_) {
        if (!step->restart()) return false;
    }
    ended_ = flushed_ = false;
    ready_.clear();
    readyAt_ = 0;
    clipped_ = nonFinite_ = 0;
    framesRead_ = 0;
    truncation_.clear();
    return true;
}

std::optional<uint64_t> AudioInput::countSamples() {
    uint64_t n = 0;
    std::vector<int16_t> scratch(4096);
    for (std::ptrdiff_t got; (got = read(scratch)) > 0;) n += static_cast<uint64_t>(got);
    if (failure_.status != kStatusFinished || !rewind()) return std::nullopt;
    return n;
}

int AudioInput::start(const AudioOptions& options, uint32_t rate) {
    if (options.channel < 0 || options.channel > reader_->channels()) {
        return fail(Failure{kStatusFormat, "has no channel " + std::to_string(options.channel) +
                                               " (it has " + std::to_string(reader_->channels()) +
                                               ")"});
    }
    outputRate_ = rate;
    steps_.clear();
    steps_.push_back(mixStep(options.channel));
    float scale = 1;  // the peak is measured unscaled, before resampling
    if (options.normalizeDbfs) {
        float top = 0;
        if (peak(&top) != kStatusFinished) return failure_.status;
        // 0 dBFS is the largest positive sample, 32767: a peak taken there is not clipped.
        const double level = std::min(std::pow(10.0, *options.normalizeDbfs / 20), 32767 / 32768.0);
        if (top > 0) scale = static_cast<float>(level / top);
    } else {
        scale = static_cast<float>(std::pow(10.0, options.gainDb / 20));
    }
    if (rate != sourceRate()) {
        Outcome<std::unique_ptr<Step>> resample = resampleStep(sourceRate(), rate);
        if (!resample) return fail(std::move(resample.failure()));
        steps_.push_back(std::move(*resample));
    }
    steps_.push_back(gainStep(scale));
    shapedFrom_ = steps_.size();
    return kStatusFinished;
}

// Reads the next block of frames, with samples that are not finite made silence; false
// once the source has ended or failed.
bool AudioInput::refill(Block& block) {
    const auto channels = static_cast<std::size_t>(reader_->channels());
    block.channels = reader_->channels();
    block.samples.resize(kBlockFrames * channels);
    const std::size_t got = reader_->read(block.samples);
    block.samples.resize(got * channels);
    framesRead_ += static_cast<int64_t>(got);
    if (got < kBlockFrames) {
        ended_ = true;
        const char* failure = reader_->failure();
        // Nothing at all is a failure; some audio and then none is a recording cut short.
        if (failure != nullptr && framesRead_ == 0) {
            fail(Failure{kStatusRead, std::string("cannot read the audio: ") + failure});
            return false;
        }
        truncation_ = reader_->shortfall(framesRead_, failure);
    }
    // NaN and infinities are silence; a mix or a resampler would spread them. Finite
    // samples are held within 2^24 (144 dB over full scale, where any sample has long
    // clipped), so that no mix, resampler, gain or level of them overflows to infinity.
    constexpr float kMost = 16777216.0f;
    for (float& v : block.samples) {
        if (!std::isfinite(v)) {
            v = 0;
            ++nonFinite_;
        }
        v = std::clamp(v, -kMost, kMost);
    }
    return true;
}

// Fills ready_ with the next samples out of the chain; false when there are no more. A step
// that takes no more input (the end of a trim) ends the stream for the steps after it.
bool AudioInput::produce() {
    ready_.clear();
    readyAt_ = 0;
    while (ready_.empty() && !flushed_) {
        std::size_t from = 0;
        for (std::size_t i = 0; i < steps_.size(); ++i) {
            if (steps_[i]->done()) from = i + 1;
        }
        frames_.samples.clear();
        frames_.channels = 1;
        if (from == 0 && !refill(frames_)) return false;
        bool over = from > 0 || ended_;
        for (std::size_t i = from; i < steps_.size(); ++i) {
            Step& step = *steps_[i];
            Done made = step.run(frames_);
            if (made && over) made = step.end(frames_);
            if (!made) {
                fail(std::move(made.failure()));
                return false;
            }
            over = over || step.done();
        }
        flushed_ = over;
        ready_.swap(frames_.samples);
    }
    return !ready_.empty();
}

int AudioInput::analyse(LevelMeter* meter) {
    std::vector<float> block(4096);
    for (std::size_t n; (n = pull(block)) > 0;) meter->add(std::span(block).first(n));
    if (failure_.status != kStatusFinished) return failure_.status;
    if (!rewind()) return fail(Failure{kStatusRead, "cannot read the audio twice to measure it"});
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
    if (measure(shaping, &whole) != kStatusFinished) return failure_.status;
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
        if (trimmed && measure(shaping, &kept) != kStatusFinished) return failure_.status;
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
                if (measure(shaping, &limited) != kStatusFinished) return failure_.status;
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

int AudioInput::prepare(const AudioOptions& options, const Levelling& levelling, uint32_t rate,
                        int bits, LevelResult* result) {
    if (start(options, rate) != kStatusFinished) return failure_.status;
    if (levelling.any()) return level(levelling, defaultPeakDbfs(bits), result);
    return kStatusFinished;
}

void AudioInput::shape(const Shaping& shaping) {
    steps_.resize(shapedFrom_);
    steps_.push_back(trimStep(shaping.skip, shaping.keep));
    steps_.push_back(gainStep(shaping.gain));
    limiter_ = nullptr;
    if (shaping.ceiling) {
        auto limit = std::make_unique<LimitStep>(*shaping.ceiling, outputRate());
        limiter_ = limit.get();
        steps_.push_back(std::move(limit));
    }
}

// The next samples out of the chain, full scale being 1.
std::size_t AudioInput::pull(std::span<float> out) {
    std::size_t n = 0;
    while (n < out.size() && (readyAt_ < ready_.size() || produce())) {
        const std::size_t take = std::min(out.size() - n, ready_.size() - readyAt_);
        std::copy_n(ready_.begin() + static_cast<std::ptrdiff_t>(readyAt_), take,
                    out.begin() + static_cast<std::ptrdiff_t>(n));
        n += take;
        readyAt_ += take;
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
    return failure_.status == kStatusFinished ? static_cast<std::ptrdiff_t>(n) : -1;
}

int AudioInput::fail(Failure failure) {
    failure_ = std::move(failure);
    return failure_.status;
}

}  // namespace kestrune::detail
