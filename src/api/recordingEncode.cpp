// Encoding a prepared recording: the codes out to the sink, what the device plays of them
// measured against the source and for its level, and the warnings the tool prints.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "adpFile.h"
#include "api/recordingState.h"
#include "audio/audioInput.h"
#include "audio/level.h"
#include "io/status.h"
#include "kestrune/recording.hpp"

namespace kestrune {

namespace {

constexpr std::size_t kBlockSamples = 8192;
constexpr double kLevelTolerance = 0.5;  // dB a levelled playback may lie off its target

// The samples given to the encoder that the decoder has not played back yet: the search
// decides each code some samples late.
class SourceQueue {
public:
    void push(std::span<const int16_t> s) { queue_.insert(queue_.end(), s.begin(), s.end()); }
    std::span<const int16_t> front(std::size_t n) const {
        return std::span(queue_).subspan(head_, n);
    }
    void pop(std::size_t n) {
        head_ += n;
        if (head_ > kBlockSamples) {
            queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
    }

private:
    std::vector<int16_t> queue_;
    std::size_t head_ = 0;
};

// What is measured of the playback as the codes come.
struct Playback {
    Meter meter;
    std::optional<detail::LevelMeter> level;  // when levelling: the loudness the device plays
    uint64_t railed = 0;                      // samples the device plays at full scale
    SourceQueue queue;
    std::vector<int16_t> played;
    std::vector<float> asFloat;
    int peak = 0;          // the largest magnitude the device plays, under a ceiling
    bool sounded = false;  // the source holds a sample that is not 0
};

// The warning of a levelled playback that misses its target, or empty.
std::string missedTarget(const RecordingOptions& o, const Playback& p, const Report& r) {
    const std::optional<double> played = !p.level         ? std::nullopt
                                         : o.loudnessLufs ? r.loudnessOut
                                                          : p.level->speechLevelDb();
    if (!played || !r.gainDb) return "";
    const double target = o.loudnessLufs ? *o.loudnessLufs : *o.speechLevelDb;
    if (std::fabs(*played - target) <= kLevelTolerance) return "";
    char text[200];
    std::snprintf(text, sizeof text, "plays at %.1f %s, %.1f dB %s its target of %g%s", *played,
                  o.loudnessLufs ? "LUFS" : "dBov", std::fabs(*played - target),
                  *played < target ? "under" : "over", target,
                  r.limited.value_or(0) > 0u ? "; the limiter holds its peaks under --peak" : "");
    return text;
}

// The warnings after levelling's, in the order the tool prints them.
void warn(const RecordingOptions& o, const Playback& p, const detail::AudioInput& audio,
          Report* r) {
    if (std::string text = missedTarget(o, p, *r); !text.empty()) r->warnings.push_back(text);
    if (p.railed > 0) {
        r->warnings.push_back("the device plays " + std::to_string(p.railed) +
                              " samples at full scale; a lower --peak leaves the decoder room");
    }
    if (r->clipped > 0) r->warnings.push_back(std::to_string(r->clipped) + " samples clipped");
    if (r->nonFinite > 0) {
        r->warnings.push_back(std::to_string(r->nonFinite) +
                              " samples not finite (NaN or infinite), played as silence");
    }
    if (!audio.truncation().empty()) r->warnings.push_back(audio.truncation());
}

// What the whole playback came to: its size, level, peak under the ceiling and quality.
void finishReport(const RecordingOptions& o, const std::optional<double>& ceilingDb,
                  std::size_t perByte, Playback& p, const detail::AudioInput& audio, Report* r) {
    r->bytes = r->samples / perByte;
    r->clipped = audio.clipped();
    r->nonFinite = audio.nonFinite();
    if (audio.limiting()) r->limited = audio.limited();
    if (p.level) r->loudnessOut = p.level->loudnessLufs();
    if (ceilingDb && p.peak > 0) {
        r->playbackPeakDbfs = 20 * std::log10(p.peak / 32768.0);
        r->headroomDb = *ceilingDb - *r->playbackPeakDbfs;
    }
    warn(o, p, audio, r);
    if (o.measure && p.sounded) {
        const Quality q = p.meter.finish();
        if (std::isfinite(q.snrDb)) r->snrDb = q.snrDb;
        r->segmentalSnrDb = q.segmentalSnrDb;
        if (std::isfinite(q.weightedSnrDb)) r->weightedSnrDb = q.weightedSnrDb;
    }
}

}  // namespace

Error Recording::encode(const RecordingSink& sink, Report* r) {
    const auto fail = [r](Error e, std::string why) {
        r->error = e;
        r->reason = why.empty() ? message(e) : std::move(why);
        return e;
    };
    if (!state_->prepared) return r->error != Error::none ? r->error : fail(Error::read_failed, "");
    const RecordingOptions& o = state_->options;
    detail::AudioInput& audio = state_->audio;
    const bool levelled = o.loudnessLufs || o.speechLevelDb;
    // The ceiling in force: the one given, or levelling's default; the search holds the
    // playback under it.
    const std::optional<double> ceilingDb =
        o.peakDbfs || !levelled ? o.peakDbfs : std::optional(detail::defaultPeakDbfs(o.bits));
    Result<Encoder> encoder =
        Encoder::create({r->rate, o.bits, o.level, o.tune, ceilingDb.value_or(0)});
    Result<Decoder> decoder = Decoder::create(o.bits);
    if (!encoder || !decoder) return fail(encoder ? decoder.error() : encoder.error(), "");
    const std::size_t perByte = decoder->samplesPerByte();
    Playback p{Meter(r->rate), std::nullopt, 0, {}, {}, {}};
    if (levelled) p.level.emplace(r->rate, true, o.speechLevelDb.has_value());
    const bool hear = o.measure || levelled || ceilingDb || sink.played;
    std::vector<int16_t> block(kBlockSamples);
    std::vector<uint8_t> bytes;
    // Hands on the decided bytes and measures what the device will play of them.
    const auto emit = [&] {
        if (sink.codes && !bytes.empty() && !sink.codes(bytes)) return false;
        const std::size_t n = bytes.size() * perByte;
        if (hear) {
            p.played.resize(n);
            decoder->decode(bytes, p.played);
        }
        if (o.measure) {
            p.meter.add(p.queue.front(n), p.played);
            p.queue.pop(n);
        }
        if (levelled) {
            p.asFloat.resize(n);
            for (std::size_t i = 0; i < n; ++i) {
                p.railed += p.played[i] == 32767 || p.played[i] == -32768;
                p.asFloat[i] = p.played[i] / 32768.0f;
            }
            p.level->add(p.asFloat);
        }
        if (ceilingDb) {
            for (std::size_t i = 0; i < n; ++i)
                p.peak = std::max(p.peak, std::abs(int{p.played[i]}));
        }
        if (sink.played) sink.played(std::span(p.played).first(n));
        r->samples += n;
        bytes.clear();
        return true;
    };
    for (;;) {
        const std::ptrdiff_t n = audio.read(block);
        if (n < 0) return fail(Error::read_failed, audio.problem());
        if (n == 0) break;
        const auto samples = std::span(block).first(static_cast<std::size_t>(n));
        if (o.measure) p.queue.push(samples);
        p.sounded =
            p.sounded || std::any_of(samples.begin(), samples.end(), [](int16_t v) { return v; });
        if (sink.source) sink.source(samples);
        const Error e = encoder->encode(samples, bytes);
        if (!emit()) return fail(Error::write_failed, "");
        if (e != Error::none) return fail(e, e == Error::too_long ? kTooLongForDevice : "");
    }
    if (const Error e = encoder->finish(bytes); e != Error::none) {
        return fail(e, e == Error::too_long ? kTooLongForDevice : "");
    }
    if (!emit()) return fail(Error::write_failed, "");
    finishReport(o, ceilingDb, perByte, p, audio, r);
    return Error::none;
}

}  // namespace kestrune
