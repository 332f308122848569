#include "tool/listening.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "adpFile.h"
#include "audio/audioInput.h"
#include "audio/flacMemory.h"
#include "audio/level.h"
#include "kestrune/kestrune.hpp"
#include "tool/jobs.h"
#include "tool/paths.h"

namespace kestrune::tool {

namespace {

std::optional<double> loudness(std::span<const int16_t> samples, uint32_t rate) {
    detail::LevelMeter meter(rate, true, false);
    std::vector<float> block;
    for (std::size_t at = 0; at < samples.size(); at += 8192) {
        const auto part = samples.subspan(at, std::min<std::size_t>(8192, samples.size() - at));
        block.assign(part.begin(), part.end());
        for (float& v : block) v /= 32768.0f;
        meter.add(block);
    }
    return meter.loudnessLufs();
}

}  // namespace

Listening listenTo(std::vector<uint8_t> device, std::span<const int16_t> source,
                   std::span<const int16_t> played, uint32_t rate) {
    Listening l;
    l.device = std::move(device);
    if (!source.empty()) {
        l.source = detail::flacBytes(source, rate).value_or(std::vector<uint8_t>{});
        l.sourceLufs = loudness(source, rate);
    }
    l.playedLufs = loudness(played, rate);
    int peak = 0;
    for (const int16_t v : played) peak = std::max(peak, std::abs(int{v}));
    if (peak > 0) l.peakDbfs = 20 * std::log10(peak / 32768.0);
    return l;
}

std::string sourceBeside(const std::string& device) {
    namespace fs = std::filesystem;
    for (const char* extension :
         {".wav", ".flac", ".ogg", ".opus", ".mp3", ".aiff", ".aif", ".caf", ".w64", ".au"}) {
        fs::path candidate(device);
        candidate.replace_extension(extension);
        std::error_code e;
        if (candidate != fs::path(device) && fs::is_regular_file(candidate, e)) return candidate;
    }
    return "";
}

FileResult listenToFile(const std::string& device, const std::string& source,
                        EncodeSettings settings) {
    std::vector<uint8_t> bytes = deviceFileAt(device);
    kestrune::Result<std::vector<int16_t>> decoded = kestrune::decodeFile(bytes);
    if (!decoded) return inspectJob(device);  // which says why it is not one
    FileResult r;
    r.input = device;
    AdpInfo info{};
    checkAdpHeader(bytes.data(), &info);
    describeDevice(&r, info);
    const std::vector<int16_t> played = std::move(*decoded);

    std::vector<int16_t> samples;
    if (source.empty()) {
        r.warnings.push_back("no source found beside it; the playback is shown alone");
    } else {
        // Prepared as encode prepared it for this device file.
        detail::AudioInput audio;
        detail::LevelResult prepared;
        std::vector<int16_t> block(8192);
        std::ptrdiff_t n = 0;
        const bool read = audio.open(source) == kStatusFinished &&
                          audio.prepare(settings.audio, settings.levelling, r.rate, r.bits,
                                        &prepared) == kStatusFinished;
        while (read && (n = audio.read(block)) > 0)
            samples.insert(samples.end(), block.begin(), block.begin() + n);
        if (!read || n < 0) {
            r.warnings.push_back("source " + quoted(source) + ": " + audio.problem());
            samples.clear();
        } else {
            r.loudnessIn = prepared.loudnessIn;
            r.gainDb = prepared.gainDb;
            r.trimStartMs = prepared.trimStartMs;
            r.trimEndMs = prepared.trimEndMs;
            if (audio.limiting()) r.limited = audio.limited();
            r.clipped = audio.clipped();
        }
    }
    // The device plays whole bytes of codes: samples that do not fill the last are not encoded.
    const uint64_t perByte = kestrune::samplesPerByte(r.bits);
    const uint64_t encoded = samples.size() / perByte * perByte;
    if (!samples.empty() && encoded != played.size()) {
        const double apart = static_cast<double>(encoded) - static_cast<double>(played.size());
        char text[160];
        std::snprintf(text, sizeof text,
                      "the prepared source is %.0f samples (%.1f ms) %s than the playback; "
                      "compared from the first sample",
                      std::fabs(apart), std::fabs(apart) * 1000 / r.rate,
                      apart > 0 ? "longer" : "shorter");
        r.warnings.push_back(text);
    }
    // Measured over what both hold; a source silent there has no SNR.
    const auto compared = std::span(samples).first(std::min(samples.size(), played.size()));
    if (std::any_of(compared.begin(), compared.end(), [](int16_t v) { return v; })) {
        setQuality(&r, kestrune::measure(samples, played, r.rate));
    }
    r.output = source;
    r.listening =
        std::make_shared<const Listening>(listenTo(std::move(bytes), samples, played, r.rate));
    return r;
}

}  // namespace kestrune::tool
