// The C interface to the whole pipeline: options and report as plain structs over
// kestrune::RecordingOptions and kestrune::Report.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "api/cStatus.h"
#include "kestrune/kestrune.h"
#include "kestrune/recording.hpp"

namespace {

std::optional<double> given(double v) {
    return std::isnan(v) ? std::nullopt : std::optional(v);
}

double orNan(const std::optional<double>& v) {
    return v.value_or(NAN);
}

kestrune::RecordingOptions fromC(const kestrune_recording_options* c) {
    kestrune::RecordingOptions o;
    if (c == nullptr) return o;
    o.rate = c->rate;
    o.bits = c->bits;
    o.level = c->level;
    o.tune = static_cast<kestrune::Tune>(c->tune);
    o.channel = c->channel;
    o.gainDb = c->gain_db;
    o.normalizeDbfs = given(c->normalize_dbfs);
    o.loudnessLufs = given(c->loudness_lufs);
    o.speechLevelDb = given(c->speech_level_db);
    o.peakDbfs = given(c->peak_dbfs);
    o.trimDb = given(c->trim_db);
    o.trimMarginMs = c->trim_margin_ms;
    o.measure = c->measure != 0;
    return o;
}

char* copied(const std::string& s) {
    char* c = static_cast<char*>(std::malloc(s.size() + 1));
    if (c == nullptr) throw std::bad_alloc();
    std::memcpy(c, s.c_str(), s.size() + 1);
    return c;
}

void toC(const kestrune::Report& r, kestrune_report* c) {
    *c = kestrune_report{};
    if (r.error != kestrune::Error::none) c->reason = copied(r.reason);
    c->rate = r.rate;
    c->bits = r.bits;
    c->level = r.level;
    c->tune = static_cast<int>(r.tune);
    c->samples = r.samples;
    c->bytes = r.bytes;
    c->snr_db = orNan(r.snrDb);
    c->segsnr_db = orNan(r.segmentalSnrDb);
    c->wsnr_db = orNan(r.weightedSnrDb);
    c->clipped = r.clipped;
    c->nonfinite = r.nonFinite;
    c->loudness_in = orNan(r.loudnessIn);
    c->loudness_out = orNan(r.loudnessOut);
    c->gain_db = orNan(r.gainDb);
    c->limited = r.limited ? static_cast<int64_t>(*r.limited) : -1;
    c->trim_start_ms = orNan(r.trimStartMs);
    c->trim_end_ms = orNan(r.trimEndMs);
    c->playback_peak_dbfs = orNan(r.playbackPeakDbfs);
    c->headroom_db = orNan(r.headroomDb);
    c->warnings = static_cast<char**>(std::calloc(r.warnings.size() + 1, sizeof(char*)));
    if (c->warnings == nullptr) throw std::bad_alloc();
    for (const std::string& w : r.warnings) c->warnings[c->warning_count++] = copied(w);
}

// Runs `encode` and hands out its file and report; any exception is memory running out.
template <class Encode>
kestrune_status handOut(Encode encode, uint8_t** file, std::size_t* size, kestrune_report* report) {
    if (file == nullptr || size == nullptr) return KESTRUNE_NULL_ARGUMENT;
    *file = nullptr;
    *size = 0;
    if (report != nullptr) *report = kestrune_report{};
    try {
        kestrune::Report r;
        kestrune::Result<std::vector<uint8_t>> made = encode(&r);
        if (report != nullptr) toC(r, report);
        if (!made) return kestrune::detail::cStatus(made.error());
        *file = static_cast<uint8_t*>(std::malloc(made->size()));
        if (*file == nullptr) throw std::bad_alloc();
        std::memcpy(*file, made->data(), made->size());
        *size = made->size();
        return KESTRUNE_OK;
    } catch (...) {
        kestrune_report_free(report);
        return KESTRUNE_OUT_OF_MEMORY;
    }
}

}  // namespace

extern "C" {

kestrune_status kestrune_recording_defaults(kestrune_recording_options* c) {
    if (c == nullptr) return KESTRUNE_NULL_ARGUMENT;
    const kestrune::RecordingOptions o;
    *c = kestrune_recording_options{
        o.rate, o.bits, o.level, static_cast<int>(o.tune), o.channel,        o.gainDb, NAN, NAN,
        NAN,    NAN,    NAN,     o.trimMarginMs,           o.measure ? 1 : 0};
    return KESTRUNE_OK;
}

kestrune_status kestrune_encode_recording(const char* path, const kestrune_recording_options* c,
                                          uint8_t** file, size_t* size, kestrune_report* report) {
    if (path == nullptr) return KESTRUNE_NULL_ARGUMENT;
    return handOut(
        [&](kestrune::Report* r) { return kestrune::encodeRecording(path, fromC(c), r); }, file,
        size, report);
}

kestrune_status kestrune_encode_samples(const float* samples, size_t frames, uint32_t rate,
                                        int channels, const kestrune_recording_options* c,
                                        uint8_t** file, size_t* size, kestrune_report* report) {
    if (samples == nullptr && frames > 0) return KESTRUNE_NULL_ARGUMENT;
    const std::size_t count = channels > 0 ? frames * static_cast<std::size_t>(channels) : 0;
    return handOut(
        [&](kestrune::Report* r) {
            return kestrune::encodeRecording({samples, count}, rate, channels, fromC(c), r);
        },
        file, size, report);
}

void kestrune_report_free(kestrune_report* report) {
    if (report == nullptr) return;
    std::free(report->reason);
    for (std::size_t i = 0; i < report->warning_count; ++i) std::free(report->warnings[i]);
    std::free(report->warnings);
    *report = kestrune_report{};
}

}  // extern "C"
