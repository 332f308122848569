#include "audio/flacMemory.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>

namespace {

struct Sink {
    std::vector<uint8_t> bytes;
    sf_count_t at = 0;
};

sf_count_t sinkLength(void* user) {
    return static_cast<sf_count_t>(static_cast<Sink*>(user)->bytes.size());
}

sf_count_t sinkSeek(sf_count_t offset, int whence, void* user) {
    auto* s = static_cast<Sink*>(user);
    const sf_count_t base =
        whence == SEEK_CUR ? s->at : (whence == SEEK_END ? sinkLength(user) : 0);
    s->at = std::max<sf_count_t>(0, base + offset);
    return s->at;
}

sf_count_t sinkRead(void* ptr, sf_count_t count, void* user) {
    auto* s = static_cast<Sink*>(user);
    const sf_count_t n = std::clamp<sf_count_t>(sinkLength(user) - s->at, 0, count);
    std::memcpy(ptr, s->bytes.data() + s->at, static_cast<std::size_t>(n));
    s->at += n;
    return n;
}

sf_count_t sinkWrite(const void* ptr, sf_count_t count, void* user) {
    auto* s = static_cast<Sink*>(user);
    const auto end = static_cast<std::size_t>(s->at + count);
    if (end > s->bytes.size()) s->bytes.resize(end);
    std::memcpy(s->bytes.data() + s->at, ptr, static_cast<std::size_t>(count));
    s->at += count;
    return count;
}

sf_count_t sinkTell(void* user) {
    return static_cast<Sink*>(user)->at;
}

}  // namespace

std::optional<std::vector<uint8_t>> flacBytes(std::span<const int16_t> samples, uint32_t rate) {
    Sink sink;
    SF_VIRTUAL_IO io = {sinkLength, sinkSeek, sinkRead, sinkWrite, sinkTell};
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &sink);
    if (file == nullptr) return std::nullopt;
    double strongest = 1.0;  // the smallest file; encoding time does not matter here
    sf_command(file, SFC_SET_COMPRESSION_LEVEL, &strongest, sizeof strongest);
    const auto n = static_cast<sf_count_t>(samples.size());
    const bool written = sf_write_short(file, samples.data(), n) == n;
    if (sf_close(file) != 0 || !written) return std::nullopt;
    return std::move(sink.bytes);
}
