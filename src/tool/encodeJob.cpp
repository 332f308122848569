#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "adpFile.h"
#include "device/adpWriter.h"
#include "io/inputFile.h"
#include "io/outputFile.h"
#include "io/status.h"
#include "kestrune/kestrune.hpp"
#include "tool/container.h"
#include "tool/jobs.h"
#include "tool/listening.h"
#include "tool/paths.h"
#include "tool/prepareAudio.h"

namespace {

constexpr std::size_t kBlockSamples = 8192;
constexpr double kLevelTolerance = 0.5;  // dB a levelled playback may lie off its target
constexpr const char* kTooLong =
    "too long for a device file (its length field holds at most 4294967295 bytes)";

// The input's identity, so that an output that is the input is refused.
int identify(const std::string& input, struct stat* st) {
    return input == "-" ? fstat(STDIN_FILENO, st) : stat(input.c_str(), st);
}

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

// Opens the recording and prepares it as the encoder receives it, at the rate it gets
// (r->rate). False, with the result failed, when it cannot be read or is too long.
bool openSource(const EncodeSettings& settings, const std::string& input, Progress* progress,
                AudioInput* audio, struct stat* source, FileResult* r) {
    if (std::string why = inputProblem(identify(input, source), *source); !why.empty()) {
        return r->fail(kStatusInputOpen, why).ok();
    }
    if (audio->open(input) != kStatusFinished)
        return r->fail(audio->status(), audio->problem()).ok();
    r->rate = settings.rate != 0 ? settings.rate : defaultDeviceRate(audio->sourceRate());
    const bool lengthKnown = audio->frames() > 0 && audio->frames() != SF_COUNT_MAX;
    if (progress != nullptr && lengthKnown) {
        progress->knownMicroseconds +=
            microseconds(static_cast<uint64_t>(audio->frames()), audio->sourceRate());
        ++progress->filesMeasured;
    }
    // The length field holds 32 bits of bytes; a recording too long for it is refused
    // before any work when its header tells (a margin for resampling's rounding).
    const double expectedBytes = static_cast<double>(audio->frames()) * r->rate /
                                 audio->sourceRate() / kestrune::samplesPerByte(settings.bits);
    if (lengthKnown && expectedBytes > kestrune::kMaxPayloadBytes * 1.001) {
        return r->fail(kStatusFormat, kTooLong).ok();
    }
    return prepareAudio(settings, r->rate, audio, r);
}

// What the encoder is given and what the device will play of the codes, measured as they
// come: the quality, the level of the playback and its samples at full scale, and what a
// listening report keeps.
class Playback {
public:
    Playback(const EncodeSettings& settings, uint32_t rate, std::optional<double> ceilingDb)
        : settings_(settings), rate_(rate), ceilingDb_(ceilingDb), meter_(rate) {
        if (settings.levelling.target()) {
            playedLevel_.emplace(rate, true, settings.levelling.speechLevelDb.has_value());
        }
    }
    void given(std::span<const int16_t> samples) {
        if (settings_.measure) queue_.push(samples);
        sounded_ =
            sounded_ || std::any_of(samples.begin(), samples.end(), [](int16_t v) { return v; });
        if (settings_.listen)
            heardSource_.insert(heardSource_.end(), samples.begin(), samples.end());
    }
    // The codes decided, `n` samples of them, decoded as the device decodes them.
    void played(std::span<const uint8_t> bytes, std::size_t n, kestrune::Decoder& decoder) {
        if (settings_.measure || playedLevel_ || ceilingDb_ || settings_.listen) {
            played_.resize(n);
            decoder.decode(bytes, played_);
        }
        if (settings_.measure) {
            meter_.add(queue_.front(n), played_);
            queue_.pop(n);
        }
        if (playedLevel_) {
            for (std::size_t i = 0; i < n; ++i) {
                railed_ += played_[i] == 32767 || played_[i] == -32768;
            }
            playedFloat_.resize(n);
            for (std::size_t i = 0; i < n; ++i) playedFloat_[i] = played_[i] / 32768.0f;
            playedLevel_->add(playedFloat_);
        }
        if (ceilingDb_) {
            for (std::size_t i = 0; i < n; ++i) peak_ = std::max(peak_, std::abs(int{played_[i]}));
        }
        if (settings_.listen) {
            device_.insert(device_.end(), bytes.begin(), bytes.end());
            heardPlayed_.insert(heardPlayed_.end(), played_.begin(), played_.end());
        }
    }
    // What was measured, into the result; the encoder gives the device file's header.
    void finish(FileResult* r, const kestrune::Encoder& encoder);

private:
    const EncodeSettings& settings_;
    uint32_t rate_;
    std::optional<double> ceilingDb_;  // the ceiling in force, when one is
    int peak_ = 0;                     // the largest magnitude the device plays
    kestrune::Meter meter_;
    std::optional<LevelMeter> playedLevel_;  // when levelled
    bool sounded_ = false;                   // the source holds a sample that is not 0
    uint64_t railed_ = 0;                    // samples the device plays at full scale
    SourceQueue queue_;
    std::vector<int16_t> played_;
    std::vector<float> playedFloat_;
    std::vector<int16_t> heardSource_, heardPlayed_;  // for a listening report
    std::vector<uint8_t> device_;
};

void Playback::finish(FileResult* r, const kestrune::Encoder& encoder) {
    const Levelling& levelling = settings_.levelling;
    if (playedLevel_) r->loudnessOut = playedLevel_->loudnessLufs();
    if (ceilingDb_ && peak_ > 0) {
        r->playbackPeakDbfs = 20 * std::log10(peak_ / 32768.0);
        r->headroomDb = *ceilingDb_ - *r->playbackPeakDbfs;
    }
    if (const auto played = !playedLevel_            ? std::nullopt
                            : levelling.loudnessLufs ? r->loudnessOut
                                                     : playedLevel_->speechLevelDb();
        played && r->gainDb) {
        const double target =
            levelling.loudnessLufs ? *levelling.loudnessLufs : *levelling.speechLevelDb;
        if (std::fabs(*played - target) > kLevelTolerance) {
            char text[200];
            std::snprintf(text, sizeof text, "plays at %.1f %s, %.1f dB %s its target of %g%s",
                          *played, levelling.loudnessLufs ? "LUFS" : "dBov",
                          std::fabs(*played - target), *played < target ? "under" : "over", target,
                          r->limited > 0u ? "; the limiter holds its peaks under --peak" : "");
            r->warnings.push_back(text);
        }
    }
    if (railed_ > 0) {
        r->warnings.push_back("the device plays " + std::to_string(railed_) +
                              " samples at full scale; a lower --peak leaves the decoder room");
    }
    if (settings_.measure && sounded_) setQuality(r, meter_.finish());
    if (settings_.listen) {
        const auto header = encoder.header(static_cast<uint32_t>(device_.size()));
        std::vector<uint8_t> file(header.begin(), header.end());
        file.insert(file.end(), device_.begin(), device_.end());
        r->listening = std::make_shared<const Listening>(
            listenTo(std::move(file), heardSource_, heardPlayed_, rate_));
    }
}

// What the source's reading left to say: clipped, not finite, cut short.
void sourceWarnings(const AudioInput& audio, FileResult* r) {
    if (r->clipped > 0) r->warnings.push_back(std::to_string(r->clipped) + " samples clipped");
    if (r->nonFinite > 0) {
        r->warnings.push_back(std::to_string(r->nonFinite) +
                              " samples not finite (NaN or infinite), played as silence");
    }
    if (!audio.truncation().empty()) r->warnings.push_back(audio.truncation());
}

// What the result tells of a file encoded in full; with -w, a warning fails it.
void describeEncoded(const EncodeSettings& settings, const AudioInput& audio,
                     const kestrune::Encoder& encoder, Playback* playback, FileResult* r) {
    r->clipped = audio.clipped();
    r->nonFinite = audio.nonFinite();
    if (audio.limiting()) r->limited = audio.limited();
    playback->finish(r, encoder);
    sourceWarnings(audio, r);
    if (settings.warningsAsErrors && !r->warnings.empty()) {
        r->uncommitted = OutputFile{};  // discarded
        std::string all;
        for (const std::string& w : r->warnings) all += (all.empty() ? "" : "; ") + w;
        r->fail(kStatusFormat, all + " (a warning, made an error by -w)");
    }
}

}  // namespace

FileResult encodeJob(const EncodeSettings& settings, const std::string& input,
                     const std::string& output, Progress* progress) {
    FileResult r;
    r.input = input;
    r.output = output;
    r.bits = settings.bits;
    const uint64_t perByte = kestrune::samplesPerByte(settings.bits);
    AudioInput audio;
    struct stat source {};
    if (!openSource(settings, input, progress, &audio, &source, &r)) return r;
    // The ceiling in force: the one given, or levelling's default; the search holds the
    // playback under it.
    const Levelling& levelling = settings.levelling;
    const std::optional<double> ceilingDb =
        levelling.peakDbfs || !levelling.target()
            ? levelling.peakDbfs
            : std::optional(settings.bits == 2 ? kPeak2Bit : kPeak4Bit);
    kestrune::Result<kestrune::Encoder> encoder = kestrune::Encoder::create(
        {r.rate, settings.bits, settings.level, settings.tune, ceilingDb.value_or(0)});
    kestrune::Result<kestrune::Decoder> decoder = kestrune::Decoder::create(settings.bits);
    if (!encoder || !decoder) {  // the options were checked: not met
        return r.fail(kStatusUsage, kestrune::message(encoder ? decoder.error() : encoder.error()));
    }

    OutputFile out;
    int status = openOutput(&out, output, &source, settings.replace);
    if (status != kStatusFinished) {
        outputFailed(&r, status, out.problem);
        return r;
    }
    const std::unique_ptr<Container> container = settings.container->make(
        out.fp, settings.containerOptions, stemOf(output == "-" ? input : output));
    FILE* const to = container->stream();
    if (to == nullptr) return r.fail(kStatusMemory, "out of memory");
    // An output that cannot go back for its header gets its length first, from a pass
    // that counts the samples, so that the codes stream out instead of being held.
    const bool rewrite = out.canSeek && container->direct();
    int64_t length = -1;
    if (!out.canSeek && container->direct()) {
        if (const std::optional<uint64_t> n = audio.countSamples()) {
            length = static_cast<int64_t>(*n / perByte);
        }
        if (length > static_cast<int64_t>(kestrune::kMaxPayloadBytes)) {
            return r.fail(kStatusFormat, kTooLong);
        }
    }
    AdpWriter writer;
    status = writer.start(to, rewrite, r.rate, adpVariant(settings.bits), length);

    Playback playback(settings, r.rate, ceilingDb);
    std::vector<int16_t> block(kBlockSamples);
    std::vector<uint8_t> bytes;
    // Writes the decided bytes and measures what the device will play of them.
    const auto emit = [&] {
        if (status == kStatusFinished) status = writer.add(bytes.data(), bytes.size());
        const std::size_t n = bytes.size() * perByte;
        playback.played(bytes, n, *decoder);
        r.samples += n;
        if (progress != nullptr) progress->audioMicroseconds += microseconds(n, r.rate);
        bytes.clear();
    };
    while (status == kStatusFinished) {
        const std::ptrdiff_t n = audio.read(block);
        if (n < 0) {
            r.fail(audio.status(), audio.problem());
            break;
        }
        if (n == 0) break;
        const auto samples = std::span(block).first(static_cast<std::size_t>(n));
        playback.given(samples);
        encoder->encode(samples, bytes);
        emit();
        if (writer.written() > kestrune::kMaxPayloadBytes) {
            r.fail(kStatusFormat, kTooLong);
            break;
        }
    }
    if (r.ok() && status == kStatusFinished) {
        encoder->finish(bytes);
        emit();
        if (length >= 0 && writer.written() != static_cast<uint64_t>(length)) {
            r.fail(kStatusRead, "the input changed while it was read");
        } else if (status == kStatusFinished) {
            status = writer.finish();
            if (status == kStatusFinished) status = container->finish(r);
        }
    }
    if (r.ok() && status != kStatusFinished) outputFailed(&r, status, "");  // errno says why
    if (!r.ok()) return r;  // the output is discarded with `out`
    r.uncommitted = std::move(out);
    r.bytes = r.samples / perByte;
    describeEncoded(settings, audio, *encoder, &playback, &r);
    return r;
}
