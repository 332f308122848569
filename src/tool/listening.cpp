#include "tool/listening.h"

#include <cmath>
#include <filesystem>

#include "adpFile.h"
#include "audio/audioInput.h"
#include "audio/flacMemory.h"
#include "audio/level.h"
#include "kestrune/kestrune.hpp"
#include "tool/jobs.h"

namespace {

std::optional<double> loudness(std::span<const int16_t> samples, uint32_t rate) {
    LevelMeter meter(rate, true, false);
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
        l.source = flacBytes(source, rate).value_or(std::vector<uint8_t>{});
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

FileResult listenToFile(const std::string& device, const std::string& source) {
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
        AudioInput audio;
        std::vector<int16_t> block(8192);
        std::ptrdiff_t n = 0;
        bool read = audio.open(source) == kStatusFinished &&
                    audio.start(AudioOptions{}, r.rate) == kStatusFinished;
        while (read && (n = audio.read(block)) > 0)
            samples.insert(samples.end(), block.begin(), block.begin() + n);
        if (!read || n < 0) {
            r.warnings.push_back("source " + source + ": " + audio.problem());
            samples.clear();
        }
    }
    if (!samples.empty()) {
        const kestrune::Quality q = kestrune::measure(samples, played, r.rate);
        if (std::isfinite(q.snrDb)) r.snrDb = q.snrDb;
        r.segSnrDb = q.segmentalSnrDb;
        if (std::isfinite(q.weightedSnrDb)) r.weightedSnrDb = q.weightedSnrDb;
        const double apart =
            (static_cast<double>(samples.size()) - static_cast<double>(played.size())) * 1000 /
            r.rate;
        if (std::abs(apart) >= 1) {
            char text[120];
            std::snprintf(text, sizeof text, "the source is %.0f ms %s than the playback",
                          std::abs(apart), apart > 0 ? "longer" : "shorter");
            r.warnings.push_back(text);
        }
    }
    r.output = source;
    r.listening =
        std::make_shared<const Listening>(listenTo(std::move(bytes), samples, played, r.rate));
    return r;
}
