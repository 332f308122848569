// Each prompt of a build in each language: its encoding, taken from the cache when what it
// is made of and how are unchanged, else encoded (a placeholder spoken first) and cached.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "adpFile.h"
#include "audio/audioInput.h"
#include "kestrune/kestrune.hpp"
#include "tool/buildSet.h"
#include "tool/buildSpeech.h"
#include "tool/commands.h"
#include "tool/listFile.h"
#include "tool/listening.h"
#include "tool/paths.h"

namespace kestrune::tool {

namespace {

std::string number(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%a", v);
    return text;
}

// Every setting that shapes an encoding, as text.
std::string settingsText(const EncodeSettings& s) {
    const detail::Levelling& l = s.levelling;
    const auto opt = [](const std::optional<double>& v) { return v ? number(*v) : "-"; };
    return "bits " + std::to_string(s.bits) + " level " + std::to_string(s.level) + " tune " +
           std::to_string(static_cast<int>(s.tune)) + " rate " + std::to_string(s.rate) +
           " channel " + std::to_string(s.audio.channel) + " gain " + number(s.audio.gainDb) +
           " normalize " + opt(s.audio.normalizeDbfs) + " loudness " + opt(l.loudnessLufs) +
           " speech " + opt(l.speechLevelDb) + " peak " + opt(l.peakDbfs) + " trim " +
           opt(l.trimDb) + " margin " + number(l.trimMarginMs) + " w " +
           std::to_string(s.warningsAsErrors) + " version " + kestrune::version();
}

// A place for a spoken placeholder, removed with all it holds.
struct SpeechFolder {
    std::string path;
    SpeechFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kestrune-speech-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~SpeechFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    SpeechFolder(const SpeechFolder&) = delete;
    SpeechFolder& operator=(const SpeechFolder&) = delete;
};

}  // namespace

std::string keyText(uint64_t key) {
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(key));
    return text;
}

std::string cacheFolder(const BuildArgs& a) {
    return a.folder + "/.kestrune-cache";
}

uint64_t encodingKey(const BuildItem& item) {
    const uint64_t k = fnv1a64(settingsText(item.settings));
    return fnv1a64(std::string_view(reinterpret_cast<const char*>(&item.sourceKey), 8), k);
}

bool cacheGet(const BuildArgs& a, uint64_t key, std::vector<uint8_t>* device, Json* result) {
    const std::string stem = cacheFolder(a) + "/" + keyText(key);
    const detail::Outcome<std::string> read = readWholeFile(stem + ".adp");
    if (!read) return false;
    const detail::Outcome<std::string> json = readWholeFile(stem + ".json");
    if (!json) return false;
    const std::string& bytes = *read;
    AdpInfo info{};
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
    if (bytes.size() < kAdpHeaderSize || !checkAdpHeader(b, &info) ||
        kAdpHeaderSize + uint64_t{info.payloadLength} != bytes.size()) {
        return false;
    }
    *result = Json::parse(*json, nullptr, false);
    if (!result->is_object()) return false;
    device->assign(b, b + bytes.size());
    return true;
}

bool cachePut(const BuildArgs& a, uint64_t key, const std::vector<uint8_t>& device,
              const Json& result) {
    const std::string stem = cacheFolder(a) + "/" + keyText(key);
    std::error_code made;
    std::filesystem::create_directories(cacheFolder(a), made);
    return writeWhole(stem + ".json", result.dump() + "\n", true) &&
           writeWhole(stem + ".adp", std::string(device.begin(), device.end()), true);
}

void cacheKeep(const BuildArgs& a, const std::vector<uint64_t>& used) {
    std::set<std::string> keep;
    for (const uint64_t k : used) keep.insert(keyText(k));
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(cacheFolder(a), error)) {
        const std::string stem = e.path().stem().string(), ext = e.path().extension().string();
        if (stem.size() == 16 && (ext == ".adp" || ext == ".json") && !keep.contains(stem)) {
            std::filesystem::remove(e.path(), error);
        }
    }
}

bool writeBuildReport(const BuildArgs& a, const std::vector<BuildItem>& items) {
    std::vector<FileResult> results;
    for (const BuildItem& item : items) {
        // The device file as a file, and its source: the recording, or its speech again.
        SpeechFolder folder;
        std::string source = item.recording;
        const std::string device = folder.path + "/device.adp";
        if (folder.path.empty() ||
            !writeWhole(device, std::string(item.device.begin(), item.device.end()), true)) {
            return false;
        }
        if (item.placeholder()) {
            source = folder.path + "/speech.wav";
            if (!speak(a.speechWords, item.text, item.lang, source)) source.clear();
        }
        EncodeSettings settings = item.settings;
        settings.rate = item.result.value("rate", 0u);
        FileResult r = listenToFile(device, source, settings);
        r.input = item.shown();
        if (item.placeholder()) r.warnings.push_back("a placeholder, spoken from its text");
        results.push_back(std::move(r));
    }
    return writeListeningReport(a.report, true, results, "");
}

double sourcePower(const EncodeSettings& settings, const std::string& path) {
    detail::AudioInput in;
    detail::LevelResult prepared;
    if (in.open(path) != kStatusFinished ||
        in.prepare(settings.audio, settings.levelling, settings.rate, settings.bits, &prepared) !=
            kStatusFinished)
        return 0;
    std::vector<int16_t> block(8192);
    double sum = 0;
    uint64_t n = 0;
    for (std::ptrdiff_t got; (got = in.read(block)) > 0;) {
        for (std::ptrdiff_t i = 0; i < got; ++i)
            sum += static_cast<double>(block[static_cast<std::size_t>(i)]) *
                   block[static_cast<std::size_t>(i)];
        n += static_cast<uint64_t>(got);
    }
    return n == 0 ? 0 : sum / static_cast<double>(n);
}

FileResult encodeItem(const BuildArgs& a, BuildItem* item, Progress* progress, bool* cached) {
    const uint64_t key = encodingKey(*item);
    FileResult r;
    r.input = item->shown();
    *cached = cacheGet(a, key, &item->device, &item->result) &&
              (!item->measurePower || item->result.contains("source_power"));
    if (*cached) return r;
    SpeechFolder speech;
    std::string path = item->recording;
    if (item->placeholder()) {
        path = speech.path + "/speech.wav";
        if (speech.path.empty())
            return r.fail(kStatusOutputOpen, "cannot make a folder for its speech");
        if (const detail::Done spoken = speak(a.speechWords, item->text, item->lang, path);
            !spoken) {
            return r.fail(kStatusRead,
                          "its placeholder cannot be spoken: " + spoken.failure().reason);
        }
    }
    r = encodeToMemory(item->settings, path, &item->device, progress);
    r.input = item->shown() + (item->placeholder() ? " (placeholder)" : "");
    if (!r.ok()) return r;
    item->result = encodeJson(r, item->settings);
    for (const char* k : {"input", "output", "ok", "error", "skipped"}) item->result.erase(k);
    if (item->measurePower) {
        EncodeSettings at = item->settings;
        at.rate = r.rate;
        item->result["source_power"] = sourcePower(at, path);
    }
    cachePut(a, key, item->device, item->result);
    return r;
}

}  // namespace kestrune::tool
