// A recording through the audio chain into the encoder, with the playback measured: the
// whole of `kestrune-adpcm encode` but its files.
#include "kestrune/recording.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "api/recordingState.h"
#include "audio/audioInput.h"
#include "audio/optionRanges.h"
#include "io/status.h"

namespace kestrune {

namespace {

// The statuses as the library's errors, one row each, in the statuses' order (0, -1, ...).
struct StatusError {
    int status;
    Error error;
};
constexpr std::array<StatusError, kStatusCount> kStatusErrors = {{
    {kStatusFinished, Error::none},
    {kStatusUsage, Error::invalid_option},
    {kStatusInputOpen, Error::cannot_open},
    {kStatusOutputOpen, Error::cannot_open},
    {kStatusFormat, Error::not_audio},
    {kStatusRate, Error::invalid_rate},
    {kStatusMemory, Error::out_of_memory},
    {kStatusRead, Error::read_failed},
    {kStatusWrite, Error::cannot_open},  // standard input could not be held
    {kStatusOutputExists, Error::cannot_open},
}};
constexpr bool everyStatusHasItsRow() {
    for (std::size_t i = 0; i < kStatusErrors.size(); ++i) {
        if (kStatusErrors[i].status != -static_cast<int>(i)) return false;
    }
    return true;
}
static_assert(everyStatusHasItsRow());

// The audio layer's failures as the library's errors; any failure is one.
Error errorOf(int status) {
    const int row = -status;
    if (row <= 0 || row >= kStatusCount) return Error::read_failed;
    return kStatusErrors[static_cast<std::size_t>(row)].error;
}

// A value out of its range (the tool's options check the same), or options that exclude
// each other.
bool outOfRange(const RecordingOptions& o) {
    using namespace detail;
    return !kGainRange.holds(o.gainDb) || !kNormalizeRange.holds(o.normalizeDbfs) ||
           !kLoudnessRange.holds(o.loudnessLufs) || !kSpeechLevelRange.holds(o.speechLevelDb) ||
           !kPeakRange.holds(o.peakDbfs) || !kTrimRange.holds(o.trimDb) ||
           !kTrimMarginRange.holds(o.trimMarginMs) || o.channel < 0 ||
           ((o.gainDb != 0 || o.normalizeDbfs) && (o.loudnessLufs || o.speechLevelDb)) ||
           (o.gainDb != 0 && o.normalizeDbfs) || (o.loudnessLufs && o.speechLevelDb);
}

}  // namespace

uint32_t defaultRate(uint32_t sourceRate) {
    return detail::defaultDeviceRate(sourceRate);
}

Recording::Recording(std::unique_ptr<State> state) : state_(std::move(state)) {}
Recording::Recording(Recording&&) noexcept = default;
Recording& Recording::operator=(Recording&&) noexcept = default;
Recording::~Recording() = default;

Result<Recording> Recording::open(const std::string& path, std::string* reason) {
    // The system would open the path up to the NUL: another file than the one named.
    if (path.find('\0') != std::string::npos) {
        if (reason != nullptr) *reason = "cannot open: the path holds a NUL byte";
        return Error::cannot_open;
    }
    auto state = std::make_unique<State>();
    if (const int s = state->audio.open(path); s != kStatusFinished) {
        if (reason != nullptr) *reason = state->audio.problem();
        return errorOf(s);
    }
    return Recording(std::move(state));
}

Result<Recording> Recording::fromSamples(std::span<const float> samples, uint32_t rate,
                                         int channels) {
    auto state = std::make_unique<State>();
    if (state->audio.openSamples(samples, rate, channels) != kStatusFinished) {
        return Error::not_audio;
    }
    return Recording(std::move(state));
}

uint32_t Recording::sourceRate() const {
    return state_->audio.sourceRate();
}

std::optional<uint64_t> Recording::frames() const {
    if (!state_->audio.lengthKnown()) return std::nullopt;
    return static_cast<uint64_t>(state_->audio.frames());
}

namespace {

Error failed(Report* report, Error error, std::string reason) {
    report->error = error;
    report->reason = reason.empty() ? message(error) : std::move(reason);
    return error;
}

}  // namespace

Error Recording::prepare(const RecordingOptions& o, Report* report) {
    State& s = *state_;
    s.options = o;
    report->rate = o.rate != 0 ? o.rate : defaultRate(sourceRate());
    report->bits = o.bits;
    report->level = o.level;
    report->tune = o.tune;
    s.options.rate = report->rate;
    const Result<Encoder> check = Encoder::create({report->rate, o.bits, o.level, o.tune});
    if (!check) return failed(report, check.error(), "");
    if (outOfRange(o)) return failed(report, Error::invalid_option, "");
    detail::AudioInput& audio = s.audio;
    if (o.channel > audio.channels()) {
        return failed(report, Error::invalid_channel,
                      "has no channel " + std::to_string(o.channel) + " (it has " +
                          std::to_string(audio.channels()) + ")");
    }
    const detail::AudioOptions shape{o.channel, o.gainDb, o.normalizeDbfs};
    const detail::Levelling levelling{o.loudnessLufs, o.speechLevelDb, o.peakDbfs, o.trimDb,
                                      o.trimMarginMs};
    detail::LevelResult level;
    if (audio.prepare(shape, levelling, report->rate, o.bits, &level) != kStatusFinished) {
        return failed(report, errorOf(audio.status()), audio.problem());
    }
    report->loudnessIn = level.loudnessIn;
    report->gainDb = level.gainDb;
    report->trimStartMs = level.trimStartMs;
    report->trimEndMs = level.trimEndMs;
    report->warnings.insert(report->warnings.end(), level.warnings.begin(), level.warnings.end());
    s.prepared = true;
    return Error::none;
}

std::optional<uint64_t> Recording::countSamples() {
    return state_->prepared ? state_->audio.countSamples() : std::nullopt;
}

namespace {

Result<std::vector<uint8_t>> encodeWhole(Result<Recording> recording, Error opened,
                                         std::string reason, const RecordingOptions& options,
                                         Report* given) {
    Report own;
    Report* report = given != nullptr ? given : &own;
    *report = Report{};
    if (!recording) return failed(report, opened, std::move(reason));
    if (const Error e = recording->prepare(options, report); e != Error::none) return e;
    std::vector<uint8_t> file(kHeaderSize);
    RecordingSink sink;
    sink.codes = [&](std::span<const uint8_t> codes) {
        file.insert(file.end(), codes.begin(), codes.end());
        return true;
    };
    if (const Error e = recording->encode(sink, report); e != Error::none) return e;
    const Result<Encoder> encoder =
        Encoder::create({report->rate, options.bits, options.level, options.tune});
    const auto header = encoder->header(static_cast<uint32_t>(report->bytes));
    std::copy(header.begin(), header.end(), file.begin());
    return file;
}

}  // namespace

Result<std::vector<uint8_t>> encodeRecording(const std::string& path,
                                             const RecordingOptions& options, Report* report) {
    std::string reason;
    Result<Recording> recording = Recording::open(path, &reason);
    const Error e = recording.error();
    return encodeWhole(std::move(recording), e, std::move(reason), options, report);
}

Result<std::vector<uint8_t>> encodeRecording(std::span<const float> samples, uint32_t rate,
                                             int channels, const RecordingOptions& options,
                                             Report* report) {
    Result<Recording> recording = Recording::fromSamples(samples, rate, channels);
    const Error e = recording.error();
    return encodeWhole(std::move(recording), e, "", options, report);
}

}  // namespace kestrune
