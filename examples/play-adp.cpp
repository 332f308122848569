// Plays a device file as the device would, through kestrune's C++ interface: decodes it
// and writes the samples to standard output as raw signed 16-bit little-endian audio.
//
//     play-adp prompt.adp | aplay -t raw -f S16_LE -c 1 -r 16000
#include <cstdio>
#include <fstream>
#include <iterator>
#include <kestrune/kestrune.hpp>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: play-adp FILE.adp\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), {}};
    const kestrune::Result<kestrune::Header> header = kestrune::readHeader(file);
    const kestrune::Result<std::vector<int16_t>> samples = kestrune::decodeFile(file);
    if (!samples) {
        std::fprintf(stderr, "play-adp: %s: %s\n", argv[1], kestrune::message(samples.error()));
        return 1;
    }
    std::fprintf(stderr, "kestrune %s: %d-bit, %u Hz\n", kestrune::version(), header->bits,
                 header->rate);
    for (const int16_t s : *samples) {
        const unsigned char bytes[2] = {static_cast<unsigned char>(s & 0xFF),
                                        static_cast<unsigned char>((s >> 8) & 0xFF)};
        std::fwrite(bytes, 1, 2, stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
