// The reader of every format libsndfile reads.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "audio/memoryIo.h"
#include "audio/reader.h"

namespace kestrune::detail {

namespace {

// The promise a WAVE or AIFF file broke: libsndfile logs its data chunk's size as
// "data : SAID (should be IS)" when the file holds less. Zero when it logged none.
double promisedShare(SNDFILE* file) {
    char log[8192] = "";
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    for (const char* line = log; *line != '\0'; line = std::strchr(line, '\n') + 1) {
        unsigned long long said = 0, is = 0;
        const char* tag = line + std::strspn(line, " ");
        if ((std::strncmp(tag, "data", 4) == 0 || std::strncmp(tag, "SSND", 4) == 0) &&
            std::sscanf(tag, "%*[^:]: %llu (should be %llu)", &said, &is) == 2 && is > 0 &&
            said > is) {
            return static_cast<double>(said) / static_cast<double>(is);
        }
        if (std::strchr(line, '\n') == nullptr) break;
    }
    return 0;
}

class SndfileReader final : public Reader {
public:
    explicit SndfileReader(std::span<const uint8_t> bytes) : memory_(bytes) {}
    ~SndfileReader() override {
        if (file_ != nullptr) sf_close(file_);
    }
    SndfileReader(const SndfileReader&) = delete;
    SndfileReader& operator=(const SndfileReader&) = delete;

    Done open(const Source& source) {
        file_ = source.fd >= 0 ? sf_open_fd(source.fd, SFM_READ, &info_, SF_FALSE)
                               : memory_.open(&info_);
        if (file_ == nullptr) {
            return Failure{kStatusFormat,
                           std::string("not audio that can be read: ") + sf_strerror(nullptr)};
        }
        if (info_.channels < 1 || info_.samplerate < 1) {
            return Failure{kStatusFormat,
                           "not audio that can be read: no channels or no sample rate"};
        }
        return {};
    }

    uint32_t rate() const override { return static_cast<uint32_t>(info_.samplerate); }
    int channels() const override { return info_.channels; }
    int64_t frames() const override { return info_.frames; }

    std::size_t read(std::span<float> out) override {
        const auto want =
            static_cast<sf_count_t>(out.size() / static_cast<std::size_t>(channels()));
        const sf_count_t got = sf_readf_float(file_, out.data(), want);
        failed_ = got < want && sf_error(file_) != SF_ERR_NO_ERROR;
        return static_cast<std::size_t>(std::max<sf_count_t>(got, 0));
    }
    const char* failure() const override { return failed_ ? sf_strerror(file_) : nullptr; }
    bool rewind() override { return sf_seek(file_, 0, SEEK_SET) == 0; }

    std::string shortfall(int64_t framesRead, const char* failure) const override {
        const bool known = info_.frames > 0 && info_.frames != SF_COUNT_MAX;
        if (const double share = promisedShare(file_); share > 0) {
            const auto promised = std::llround(static_cast<double>(framesRead) * share);
            return "truncated: its header promises " + std::to_string(promised) + " frames, " +
                   std::to_string(framesRead) + " read";
        }
        if (failure != nullptr) {
            return "cut short (" + std::string(failure) + "): " +
                   (known ? std::to_string(framesRead) + " of " + std::to_string(info_.frames) +
                                " frames read"
                          : std::to_string(framesRead) + " frames read");
        }
        if (info_.frames == SF_COUNT_MAX) {
            return "truncated: the stream has no end, " + std::to_string(framesRead) +
                   " frames read";
        }
        if (framesRead < info_.frames) {
            return "truncated: " + std::to_string(framesRead) + " of " +
                   std::to_string(info_.frames) + " frames read";
        }
        return "";
    }

private:
    MemoryIo memory_;
    SF_INFO info_{};
    SNDFILE* file_ = nullptr;
    bool failed_ = false;
};

}  // namespace

ReaderOutcome openSndfile(const Source& source) {
    auto reader = std::make_unique<SndfileReader>(source.bytes);
    if (Done opened = reader->open(source); !opened) return std::move(opened.failure());
    return ReaderOutcome(std::move(reader));
}

}  // namespace kestrune::detail
