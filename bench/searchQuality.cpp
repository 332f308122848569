// Quality report of the search encoder on the speech corpus: per code width and level,
// the mean SNR and segmental SNR of what the device plays, the gain over level 0, and
// the single-core speed.
//   search_quality [corpus folder]   (default: the corpus in the source tree)
#include <cstdio>
#include <filesystem>
#include <vector>

#include "corpus.h"

int main(int argc, char** argv) {
    const std::filesystem::path folder = argc > 1 ? argv[1] : KESTRUNE_CORPUS;
    const std::vector<Recording> corpus = loadCorpus(folder);
    if (corpus.empty()) {
        std::fprintf(stderr, "search_quality: %s: no corpus of mono 16-bit WAVE files\n",
                     folder.c_str());
        return 1;
    }
    std::size_t total = 0;
    for (const Recording& r : corpus) total += r.samples.size();
    std::printf("%zu recordings, %zu samples\n", corpus.size(), total);
    for (const uint8_t variant : {kVariant4Bit, kVariant2Bit}) {
        std::printf(
            "\n%d-bit  level  beam  SNR dB  segSNR dB  SNR gain  segSNR gain  M samples/s\n",
            length[variant]);
        Score base;
        for (int level = 0; level < kSearchLevels; ++level) {
            double seconds = 0;
            const Score mean = meanScore(corpus, variant, level, &seconds);
            if (level == 0) base = mean;
            std::printf("       %5d  %4d  %6.2f  %9.2f  %+8.2f  %+11.2f  %11.3f\n", level,
                        searchLevel(variant, level).beam, mean.snr, mean.segSnr,
                        mean.snr - base.snr, mean.segSnr - base.segSnr,
                        static_cast<double>(total) / seconds / 1e6);
        }
    }
    return 0;
}
