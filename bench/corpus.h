// The speech corpus the search encoder is measured on (bench/corpus), loaded whole.
#pragma once

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "wave/waveFile.h"

struct Recording {
    std::string name;
    uint32_t rate;
    std::vector<int16_t> samples;
};

// Every mono 16-bit WAVE file in the folder, by name; empty if one is anything else.
inline std::vector<Recording> loadCorpus(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> paths;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        if (e.path().extension() == ".wav") paths.push_back(e.path());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<Recording> corpus;
    for (const auto& path : paths) {
        FILE* fp = std::fopen(path.c_str(), "rb");
        WaveFormat format{};
        uint32_t bytes = 0;
        Recording r{path.stem(), 0, {}};
        const bool ok = fp != nullptr && waveFileOpen(&format, fp, &bytes) == kWaveOk &&
                        format.channels == 1 && format.bitsPerSample == 16;
        if (ok) {
            r.rate = format.sampleRate;
            r.samples.resize(bytes / 2);
            r.samples.resize(std::fread(r.samples.data(), 2, r.samples.size(), fp));
        }
        if (fp != nullptr) std::fclose(fp);
        if (!ok) return {};
        corpus.push_back(std::move(r));
    }
    return corpus;
}
