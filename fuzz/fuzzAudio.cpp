// Arbitrary bytes read as audio through libsndfile's virtual I/O, and the whole encode
// that follows: channels mixed or one taken, scaled, resampled to a device rate, rounded
// levelled, trimmed and searched. The first two bytes choose the options. What is not
// audio must be refused with a reason; what is audio must end, with every sample a whole
// byte's codes.
#include <cstdlib>
#include <vector>

#include "adpFile.h"
#include "audio/audioInput.h"
#include "codec/search.h"
#include "io/status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t choice = data[0], shaping = data[1];
    kestrune::detail::AudioInput audio;
    if (audio.openMemory(std::span(data + 2, size - 2)) != kStatusFinished) {
        if (audio.problem().empty()) std::abort();
        return 0;
    }
    kestrune::detail::AudioOptions options;
    options.channel = (choice & 3) == 3 ? 1 : 0;
    if (choice & 4) options.normalizeDbfs = -1.0;
    if (choice & 8) options.gainDb = 12;
    const uint32_t rate = (choice & 16) ? kAcceptedRates[(choice >> 5) % kAcceptedRates.size()]
                                        : kestrune::detail::defaultDeviceRate(audio.sourceRate());
    if (audio.start(options, rate) != kStatusFinished) {
        if (audio.problem().empty()) std::abort();
        return 0;
    }
    // kestrune::detail::Levelling: a loudness or speech level from -70 to 0, a ceiling, the ends
    // trimmed with a margin from 0 to 70 ms.
    kestrune::detail::Levelling levelling;
    const double level = -70.0 * (shaping >> 5) / 7;
    if ((shaping & 3) == 1) levelling.loudnessLufs = level;
    if ((shaping & 3) == 2) levelling.speechLevelDb = level;
    if (shaping & 4) levelling.peakDbfs = -level / 7 - 10;
    if (shaping & 8) levelling.trimDb = level - 1;
    levelling.trimMarginMs = 10.0 * ((shaping >> 4) & 1) * (shaping >> 5);
    kestrune::detail::LevelResult levelled;
    if (levelling.any() && audio.level(levelling, -1, &levelled) != kStatusFinished) {
        if (audio.problem().empty()) std::abort();
        return 0;
    }
    const uint8_t variant = (choice & 128) ? kVariant2Bit : kVariant4Bit;
    SearchEncoder encoder(variant, 1 + choice % 3);
    std::vector<int16_t> block(4096);
    std::vector<uint8_t> bytes;
    uint64_t samples = 0;
    // A header may claim any length or rate; a few blocks show the whole path working.
    for (int blocks = 0; blocks < 16; ++blocks) {
        const std::ptrdiff_t n = audio.read(block);
        if (n < 0) {
            if (audio.problem().empty()) std::abort();
            return 0;
        }
        if (n == 0) break;
        samples += static_cast<uint64_t>(n);
        encoder.encode(std::span(block).first(static_cast<std::size_t>(n)), bytes);
    }
    encoder.finish(bytes);
    if (bytes.size() != samples / count[variant]) std::abort();
    return 0;
}
