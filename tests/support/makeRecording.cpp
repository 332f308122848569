// Makes the tests' recordings with the libraries the tool itself uses, so that no peer
// program is needed: a mono 16-bit WAV resampled, spread over channels and written in any
// container and sample type libsndfile writes.
//
//   make-recording IN OUT [rate=HZ] [channels=N] [only=C] [type=NAME] [nan=K] [frames=N]
//                         [scale=X] [lead=N] [tail=N]
//
// The container follows OUT's extension (.wav .aiff .flac .ogg .opus .mp3 .w64); type is
// u8, s16, s24, s32, float or double (default s16 where the container has sample types).
// only=C puts the signal in channel C alone; nan=K makes every Kth sample of a float file
// NaN and the one after it infinite; frames=N keeps the first N frames; scale=X multiplies
// the samples by X; lead=N and tail=N add N frames of silence before and after.
#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::map<std::string, std::string> opt;
    for (int i = 3; i < argc; ++i) {
        const char* eq = std::strchr(argv[i], '=');
        if (eq == nullptr) return 2;
        opt[std::string(argv[i], static_cast<std::size_t>(eq - argv[i]))] = eq + 1;
    }
    SF_INFO in{};
    SNDFILE* from = sf_open(argv[1], SFM_READ, &in);
    if (from == nullptr) return 1;
    std::vector<float> mono(static_cast<std::size_t>(in.frames));
    sf_readf_float(from, mono.data(), in.frames);
    sf_close(from);

    const int rate = opt.count("rate") ? std::stoi(opt["rate"]) : in.samplerate;
    if (rate != in.samplerate) {
        std::vector<float> out(mono.size() * static_cast<std::size_t>(rate) /
                                   static_cast<std::size_t>(in.samplerate) +
                               16);
        std::size_t made = 0;
        const soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
        if (soxr_oneshot(in.samplerate, rate, 1, mono.data(), mono.size(), nullptr, out.data(),
                         out.size(), &made, nullptr, &q, nullptr) != nullptr) {
            return 1;
        }
        out.resize(made);
        mono.swap(out);
    }

    if (opt.count("frames")) mono.resize(std::min(mono.size(), std::stoul(opt["frames"])));
    const float scale = opt.count("scale") ? std::stof(opt["scale"]) : 1.0f;
    for (float& v : mono) v *= scale;
    mono.insert(mono.begin(), opt.count("lead") ? std::stoul(opt["lead"]) : 0, 0.0f);
    mono.insert(mono.end(), opt.count("tail") ? std::stoul(opt["tail"]) : 0, 0.0f);

    const std::string path = argv[2];
    const std::string ext = path.substr(path.rfind('.') + 1);
    static const std::map<std::string, int> kContainers = {
        {"wav", SF_FORMAT_WAV},
        {"aiff", SF_FORMAT_AIFF},
        {"flac", SF_FORMAT_FLAC},
        {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
        {"w64", SF_FORMAT_W64},
        {"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
        {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III}};
    static const std::map<std::string, int> kTypes = {
        {"u8", SF_FORMAT_PCM_U8},  {"s16", SF_FORMAT_PCM_16},  {"s24", SF_FORMAT_PCM_24},
        {"s32", SF_FORMAT_PCM_32}, {"float", SF_FORMAT_FLOAT}, {"double", SF_FORMAT_DOUBLE},
        {"s8", SF_FORMAT_PCM_S8}};
    if (!kContainers.count(ext)) return 2;
    int format = kContainers.at(ext);
    if ((format & SF_FORMAT_SUBMASK) == 0) {
        format |= kTypes.at(opt.count("type") ? opt["type"] : "s16");
    }
    const int channels = opt.count("channels") ? std::stoi(opt["channels"]) : 1;
    const int only = opt.count("only") ? std::stoi(opt["only"]) : 0;
    const std::size_t nan = opt.count("nan") ? std::stoul(opt["nan"]) : 0;
    std::vector<float> frames(mono.size() * static_cast<std::size_t>(channels));
    for (std::size_t f = 0; f < mono.size(); ++f) {
        for (int c = 0; c < channels; ++c) {
            const bool silent = only > 0 && c + 1 != only;
            float v = silent ? 0.0f : mono[f];
            if (nan > 0 && f % nan == 0) v = NAN;
            if (nan > 0 && f % nan == 1) v = INFINITY;
            frames[f * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = v;
        }
    }
    // libsndfile reads 16-bit samples as s / 0x8000 but writes floats as v * 0x7FFF: the
    // samples of a 16-bit input come out unchanged only when scaled back.
    if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16) {
        for (float& v : frames) v *= 32768.0f / 32767.0f;
    }
    SF_INFO out{};
    out.samplerate = rate;
    out.channels = channels;
    out.format = format;
    SNDFILE* to = sf_open(argv[2], SFM_WRITE, &out);
    if (to == nullptr) {
        std::fprintf(stderr, "make-recording: %s\n", sf_strerror(nullptr));
        return 1;
    }
    const auto n = static_cast<sf_count_t>(mono.size());
    const bool ok = sf_writef_float(to, frames.data(), n) == n;
    return sf_close(to) == 0 && ok ? 0 : 1;
}
