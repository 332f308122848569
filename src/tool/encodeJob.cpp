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
#include "tool/cSource.h"
#include "tool/jobs.h"
#include "tool/listening.h"
#include "tool/paths.h"

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

// The device file held in memory, for a C source to be made of it.
struct MemoryFile {
    char* data = nullptr;
    std::size_t size = 0;
    FILE* fp = open_memstream(&data, &size);
    MemoryFile() = default;
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    ~MemoryFile() {
        if (fp != nullptr) std::fclose(fp);
        std::free(data);
    }
};

// Writes the held device file as C source onto the output.
int writeCSource(MemoryFile* held, FILE* to, const COutput& c, const std::string& symbol,
                 const FileResult& r) {
    if (std::fflush(held->fp) != 0) return kStatusMemory;
    const auto* bytes = reinterpret_cast<const uint8_t*>(held->data);
    const std::string comment = "Made by kestrune-adpcm from " + nameOf(r.input) + ": " +
                                std::to_string(r.rate) + " Hz, " + std::to_string(r.bits) +
                                "-bit, " + std::to_string(held->size) + " bytes.";
    const std::string text = cArrayHeader(symbol, {bytes, held->size}, comment, c.section, c.align);
    return std::fwrite(text.data(), 1, text.size(), to) == text.size() ? kStatusFinished
                                                                       : kStatusWrite;
}

}  // namespace

bool prepareAudio(const EncodeSettings& settings, uint32_t rate, AudioInput* audio, FileResult* r) {
    LevelResult level;
    if (audio->start(settings.audio, rate) != kStatusFinished ||
        (settings.levelling.any() &&
         audio->level(settings.levelling, settings.bits == 2 ? kPeak2Bit : kPeak4Bit, &level) !=
             kStatusFinished)) {
        r->fail(audio->status(), audio->problem());
        return false;
    }
    r->loudnessIn = level.loudnessIn;
    r->gainDb = level.gainDb;
    r->trimStartMs = level.trimStartMs;
    r->trimEndMs = level.trimEndMs;
    r->warnings.insert(r->warnings.end(), level.warnings.begin(), level.warnings.end());
    return true;
}

FileResult encodeJob(const EncodeSettings& settings, const std::string& input,
                     const std::string& output, Progress* progress, const std::string& symbol) {
    FileResult r;
    r.input = input;
    r.output = output;
    r.bits = settings.bits;
    const uint64_t perByte = kestrune::samplesPerByte(settings.bits);
    AudioInput audio;
    struct stat source {};
    if (std::string why = inputProblem(identify(input, &source), source); !why.empty()) {
        return r.fail(kStatusInputOpen, why);
    }
    if (audio.open(input) != kStatusFinished) return r.fail(audio.status(), audio.problem());
    r.rate = settings.rate != 0 ? settings.rate : defaultDeviceRate(audio.sourceRate());
    const bool lengthKnown = audio.lengthKnown();
    if (progress != nullptr && lengthKnown) {
        progress->knownMicroseconds +=
            microseconds(static_cast<uint64_t>(audio.frames()), audio.sourceRate());
        ++progress->filesMeasured;
    }
    // The length field holds 32 bits of bytes; a recording too long for it is refused
    // before any work when its header tells (a margin for resampling's rounding).
    const double expectedBytes =
        static_cast<double>(audio.frames()) * r.rate / audio.sourceRate() / perByte;
    if (lengthKnown && expectedBytes > kestrune::kMaxPayloadBytes * 1.001)
        return r.fail(kStatusFormat, kTooLong);
    if (!prepareAudio(settings, r.rate, &audio, &r)) return r;
    kestrune::Result<kestrune::Encoder> encoder =
        kestrune::Encoder::create({r.rate, settings.bits, settings.level, settings.tune});
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
    // An output that cannot go back for its header gets its length first, from a pass
    // that counts the samples, so that the codes stream out instead of being held.
    int64_t length = -1;
    MemoryFile held;
    FILE* const to = settings.c ? held.fp : out.fp;
    if (to == nullptr) {
        outputDiscard(&out);
        return r.fail(kStatusMemory, "out of memory");
    }
    if (!out.canSeek && !settings.c) {
        if (const std::optional<uint64_t> n = audio.countSamples()) {
            length = static_cast<int64_t>(*n / perByte);
        }
        if (length > static_cast<int64_t>(kestrune::kMaxPayloadBytes)) {
            outputDiscard(&out);
            return r.fail(kStatusFormat, kTooLong);
        }
    }
    AdpWriter writer;
    status = adpWriterStart(&writer, to, out.canSeek && !settings.c, r.rate,
                            adpVariant(settings.bits), length);

    kestrune::Meter meter(r.rate);
    const Levelling& levelling = settings.levelling;
    const bool levelled = levelling.target();
    std::optional<LevelMeter> playedLevel;
    if (levelled) playedLevel.emplace(r.rate, true, levelling.speechLevelDb.has_value());
    bool sounded = false;  // the source holds a sample that is not 0
    std::vector<float> playedFloat;
    uint64_t railed = 0;  // samples the device plays at full scale
    SourceQueue queue;
    std::vector<int16_t> block(kBlockSamples), played;
    std::vector<uint8_t> bytes;
    std::vector<int16_t> heardSource, heardPlayed;  // for a listening report
    std::vector<uint8_t> device;
    // Writes the decided bytes and measures what the device will play of them.
    const auto emit = [&] {
        if (status == kStatusFinished) status = adpWriterAdd(&writer, bytes.data(), bytes.size());
        const std::size_t n = bytes.size() * perByte;
        if (settings.measure || levelled || settings.listen) {
            played.resize(n);
            decoder->decode(bytes, played);
        }
        if (settings.measure) {
            meter.add(queue.front(n), played);
            queue.pop(n);
        }
        if (levelled) {
            for (std::size_t i = 0; i < n; ++i) railed += played[i] == 32767 || played[i] == -32768;
            playedFloat.resize(n);
            for (std::size_t i = 0; i < n; ++i) playedFloat[i] = played[i] / 32768.0f;
            playedLevel->add(playedFloat);
        }
        if (settings.listen) {
            device.insert(device.end(), bytes.begin(), bytes.end());
            heardPlayed.insert(heardPlayed.end(), played.begin(), played.end());
        }
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
        if (settings.measure) queue.push(samples);
        sounded =
            sounded || std::any_of(samples.begin(), samples.end(), [](int16_t v) { return v; });
        if (settings.listen) heardSource.insert(heardSource.end(), samples.begin(), samples.end());
        encoder->encode(samples, bytes);
        emit();
        if (writer.written > kestrune::kMaxPayloadBytes) {
            r.fail(kStatusFormat, kTooLong);
            break;
        }
    }
    if (r.ok() && status == kStatusFinished) {
        encoder->finish(bytes);
        emit();
        if (length >= 0 && writer.written != static_cast<uint64_t>(length)) {
            r.fail(kStatusRead, "the input changed while it was read");
        } else if (status == kStatusFinished) {
            status = adpWriterFinish(&writer);
            if (settings.c && status == kStatusFinished) {
                status = writeCSource(&held, out.fp, *settings.c, symbol, r);
            }
        }
    }
    if (r.ok() && status != kStatusFinished) outputFailed(&r, status, "");  // errno says why
    adpWriterRelease(&writer);
    if (!r.ok()) {
        outputDiscard(&out);
        return r;
    }
    r.uncommitted = out;
    r.bytes = r.samples / perByte;
    r.clipped = audio.clipped();
    r.nonFinite = audio.nonFinite();
    if (audio.limiting()) r.limited = audio.limited();
    if (playedLevel) r.loudnessOut = playedLevel->loudnessLufs();
    if (const auto played = !playedLevel             ? std::nullopt
                            : levelling.loudnessLufs ? r.loudnessOut
                                                     : playedLevel->speechLevelDb();
        played && r.gainDb) {
        const double target =
            levelling.loudnessLufs ? *levelling.loudnessLufs : *levelling.speechLevelDb;
        if (std::fabs(*played - target) > kLevelTolerance) {
            char text[200];
            std::snprintf(text, sizeof text, "plays at %.1f %s, %.1f dB %s its target of %g%s",
                          *played, levelling.loudnessLufs ? "LUFS" : "dBov",
                          std::fabs(*played - target), *played < target ? "under" : "over", target,
                          r.limited > 0u ? "; the limiter holds its peaks under --peak" : "");
            r.warnings.push_back(text);
        }
    }
    if (railed > 0) {
        r.warnings.push_back("the device plays " + std::to_string(railed) +
                             " samples at full scale; a lower --peak leaves the decoder room");
    }
    if (r.clipped > 0) r.warnings.push_back(std::to_string(r.clipped) + " samples clipped");
    if (r.nonFinite > 0) {
        r.warnings.push_back(std::to_string(r.nonFinite) +
                             " samples not finite (NaN or infinite), played as silence");
    }
    if (!audio.truncation().empty()) r.warnings.push_back(audio.truncation());
    if (settings.measure && sounded) setQuality(&r, meter.finish());
    if (settings.listen) {
        const auto header = encoder->header(static_cast<uint32_t>(device.size()));
        std::vector<uint8_t> file(header.begin(), header.end());
        file.insert(file.end(), device.begin(), device.end());
        r.listening = std::make_shared<const Listening>(
            listenTo(std::move(file), heardSource, heardPlayed, r.rate));
    }
    if (settings.warningsAsErrors && !r.warnings.empty()) {
        outputDiscard(&r.uncommitted);
        r.uncommitted = OutputFile{};
        std::string all;
        for (const std::string& w : r.warnings) all += (all.empty() ? "" : "; ") + w;
        return r.fail(kStatusFormat, all + " (a warning, made an error by -w)");
    }
    return r;
}
