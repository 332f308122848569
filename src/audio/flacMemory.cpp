#include "audio/flacMemory.h"

#include <sndfile.h>

#include "audio/memoryIo.h"

namespace kestrune::detail {

std::optional<std::vector<uint8_t>> flacBytes(std::span<const int16_t> samples, uint32_t rate) {
    MemoryIo sink;
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* file = sink.open(&info);
    if (file == nullptr) return std::nullopt;
    double strongest = 1.0;  // the smallest file; encoding time does not matter here
    sf_command(file, SFC_SET_COMPRESSION_LEVEL, &strongest, sizeof strongest);
    const auto n = static_cast<sf_count_t>(samples.size());
    const bool written = sf_write_short(file, samples.data(), n) == n;
    if (sf_close(file) != 0 || !written) return std::nullopt;
    return sink.take();
}

}  // namespace kestrune::detail
