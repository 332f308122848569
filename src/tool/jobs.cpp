#include "tool/jobs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "adpFile.h"
#include "codec/adpcm.h"
#include "codec/quality.h"
#include "codec/search.h"
#include "messages.h"
#include "outputFile.h"

namespace {

constexpr std::size_t kBlockSamples = 8192;

// The input's identity, so that an output that is the input is refused.
bool identify(const std::string& input, struct stat* st) {
    return input == "-" ? fstat(STDIN_FILENO, st) == 0 : stat(input.c_str(), st) == 0;
}

int openOutput(OutputFile* out, const std::string& path, const struct stat* input) {
    return path == "-" ? outputOpenDescriptor(out, STDOUT_FILENO, input)
                       : outputOpen(out, path.c_str(), input);
}

std::string outputProblem(int status, const std::string& output, int error) {
    const std::string name = output == "-" ? "standard output" : output;
    if (status == kStatusOutputOpen) {
        return "cannot create " + name +
               " (a missing or read-only folder, a link that leads nowhere, or the input itself)";
    }
    if (status == kStatusMemory) return "out of memory";
    if (status == kStatusRead) return "cannot read the input";
    return "cannot write " + name + (error != 0 ? std::string(": ") + std::strerror(error) : "");
}

// The samples given to the encoder that the decoder has not played back yet: the search
// decides each code some samples late.
class SourceQueue {
public:
    void push(std::span<const int16_t> s) { queue_.insert(queue_.end(), s.begin(), s.end()); }
    std::span<const int16_t> front(std::size_t n) const {
        return std::span(queue_).subspan(head_, n);
    }
    void pop(std::size_t n) {
        head_ += n;
        if (head_ > kBlockSamples) {
            queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
    }

private:
    std::vector<int16_t> queue_;
    std::size_t head_ = 0;
};

// A device file to read: standard input for "-". Closes what it opened.
struct DeviceFile {
    FILE* fp = nullptr;
    struct stat st {};
    std::string error;
    explicit DeviceFile(const std::string& path) {
        fp = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
        if (fp == nullptr || fstat(fileno(fp), &st) != 0) {
            error = std::string("cannot open: ") + std::strerror(errno);
        } else if (S_ISDIR(st.st_mode)) {
            error = "is a folder";
        }
    }
    ~DeviceFile() {
        if (fp != nullptr && fp != stdin) std::fclose(fp);
    }
    DeviceFile(const DeviceFile&) = delete;
    DeviceFile& operator=(const DeviceFile&) = delete;
};

// A whole device file: what its header says.
void succeeded(FileResult* r, const AdpInfo& info) {
    r->ok = true;
    r->rate = info.rate;
    r->bits = length[info.variant];
    r->bytes = info.payloadLength;
    r->samples = uint64_t{info.payloadLength} * count[info.variant];
}

uint64_t microseconds(uint64_t samples, uint32_t rate) {
    return rate == 0 ? 0 : samples * 1000000 / rate;
}

}  // namespace

FileResult encodeFile(const EncodeSettings& settings, const std::string& input,
                      const std::string& output, Progress* progress) {
    FileResult r;
    r.input = input;
    r.output = output;
    r.bits = settings.bits;
    const uint8_t variant = settings.bits == 2 ? kVariant2Bit : kVariant4Bit;
    AudioInput audio;
    struct stat source;
    if (!identify(input, &source)) {
        r.error = std::string("cannot open: ") + std::strerror(errno);
        return r;
    }
    if (S_ISDIR(source.st_mode)) {
        r.error = "is a folder";
        return r;
    }
    if (!audio.open(input)) {
        r.error = audio.error();
        return r;
    }
    r.rate = settings.rate != 0 ? settings.rate : defaultDeviceRate(audio.sourceRate());
    if (progress != nullptr && audio.frames() > 0) {
        progress->knownMicroseconds +=
            microseconds(static_cast<uint64_t>(audio.frames()), audio.sourceRate());
    }
    if (!audio.start(settings.audio, r.rate)) {
        r.error = audio.error();
        return r;
    }

    OutputFile out;
    int status = openOutput(&out, output, &source);
    if (status != kStatusFinished) {
        r.error = outputProblem(status, output, 0);
        return r;
    }
    AdpWriter writer;
    status = adpWriterStart(&writer, out.fp, out.canSeek, r.rate, variant, -1);

    SearchEncoder encoder(variant, settings.level);
    DecoderStream decoder{};
    QualityMeter meter(r.rate);
    SourceQueue queue;
    std::vector<int16_t> block(kBlockSamples), played;
    std::vector<uint8_t> bytes;
    // Writes the decided bytes and measures what the device will play of them.
    const auto emit = [&] {
        if (status == kStatusFinished) status = adpWriterAdd(&writer, bytes.data(), bytes.size());
        const std::size_t n = bytes.size() * count[variant];
        if (settings.measure) {
            played.resize(n);
            decodeStream(&decoder, variant, bytes.data(), static_cast<uint32_t>(bytes.size()),
                         played.data());
            meter.add(queue.front(n), played);
            queue.pop(n);
        }
        r.samples += n;
        if (progress != nullptr) progress->audioMicroseconds += microseconds(n, r.rate);
        bytes.clear();
    };
    while (status == kStatusFinished) {
        const std::ptrdiff_t n = audio.read(block);
        if (n < 0) {
            r.error = audio.error();
            break;
        }
        if (n == 0) break;
        const auto samples = std::span(block).first(static_cast<std::size_t>(n));
        if (settings.measure) queue.push(samples);
        encoder.encode(samples, bytes);
        emit();
    }
    if (r.error.empty() && status == kStatusFinished) {
        encoder.finish(bytes);
        emit();
        if (status == kStatusFinished) status = adpWriterFinish(&writer);
    }
    adpWriterRelease(&writer);
    const int writeError = errno;
    if (!r.error.empty() || status != kStatusFinished) {
        outputDiscard(&out);
        if (r.error.empty()) r.error = outputProblem(status, output, writeError);
        return r;
    }
    r.ok = true;
    r.uncommitted = out;
    r.bytes = r.samples / count[variant];
    r.clipped = audio.clipped();
    if (meter.samples() > 0 && std::isfinite(meter.snrDb())) r.snrDb = meter.snrDb();
    if (meter.samples() > 0) r.segSnrDb = meter.segSnrDb();
    return r;
}

FileResult decodeFile(const std::string& input, const std::string& output, Progress* progress) {
    FileResult r;
    r.input = input;
    r.output = output;
    DeviceFile from(input);
    if (!from.error.empty()) {
        r.error = from.error;
        return r;
    }
    OutputFile out;
    int status = openOutput(&out, output, &from.st);
    AdpInfo info{};
    const char* problem = nullptr;
    if (status == kStatusFinished) {
        status = convertAdpToWave(from.fp, out.fp, &info, &problem);
        const int writeError = errno;
        if (status == kStatusFinished) {
            r.uncommitted = out;
        } else {
            outputDiscard(&out);
            errno = writeError;
        }
    }
    const int error = errno;
    if (status == kStatusFormat && problem != nullptr) {
        r.error = problem;
    } else if (status != kStatusFinished) {
        r.error = outputProblem(status, output, error);
    } else {
        succeeded(&r, info);
        if (progress != nullptr) {
            progress->audioMicroseconds += microseconds(r.samples, r.rate);
        }
    }
    return r;
}

FolderSyncs::~FolderSyncs() {
    for (const int folder : folders_) {
        fsync(folder);
        close(folder);
    }
}

void FolderSyncs::add(int folder) {
    if (folder < 0) return;
    struct stat st, other;
    for (const int known : folders_) {
        if (fstat(folder, &st) == 0 && fstat(known, &other) == 0 && st.st_dev == other.st_dev &&
            st.st_ino == other.st_ino) {
            close(folder);
            return;
        }
    }
    // Outputs beside inputs in many folders: the oldest is synced now, a few stay open.
    if (folders_.size() == 64) {
        fsync(folders_.front());
        close(folders_.front());
        folders_.erase(folders_.begin());
    }
    folders_.push_back(folder);
}

void commitFile(FileResult* r, FolderSyncs* folders) {
    if (r->uncommitted.fp == nullptr) return;
    int folder = -1;
    const int status = outputCommit(&r->uncommitted, &folder);
    folders->add(folder);
    if (status != kStatusFinished) {
        const std::string input = r->input, output = r->output;
        *r = FileResult{};
        r->input = input;
        r->output = output;
        r->error = outputProblem(status, output, errno);
    }
}

FileResult inspectFile(const std::string& path) {
    FileResult r;
    r.input = path;
    DeviceFile from(path);
    FILE* const fp = from.fp;
    std::array<uint8_t, kAdpHeaderSize> header;
    AdpInfo info{};
    if (!from.error.empty()) {
        r.error = from.error;
    } else if (std::fread(header.data(), 1, header.size(), fp) != header.size()) {
        r.error = std::ferror(fp) ? "cannot read" : "too short for a device file's 16-byte header";
    } else if (const char* problem = adpHeaderProblem(header.data(), &info)) {
        r.error = problem;
    } else {
        // The payload must be all there; a regular file tells its size, a pipe is read.
        uint64_t present = 0;
        if (S_ISREG(from.st.st_mode)) {
            present = static_cast<uint64_t>(from.st.st_size) - kAdpHeaderSize;
        } else {
            std::vector<char> sink(1 << 16);
            std::size_t n;
            while (present < info.payloadLength &&
                   (n = std::fread(sink.data(), 1, sink.size(), fp)) > 0) {
                present += n;
            }
        }
        if (present < info.payloadLength) {
            r.error = "payload shorter than its length field (" + std::to_string(present) + " of " +
                      std::to_string(info.payloadLength) + " bytes)";
        } else {
            succeeded(&r, info);
        }
    }
    return r;
}
