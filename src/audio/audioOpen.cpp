// Opening a recording: a file, standard input or anything else that is not a regular file
// (spooled to a temporary file first), or bytes in memory, all read through libsndfile.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "audio/audioInput.h"
#include "audio/reader.h"
#include "io/inputFile.h"
#include "io/status.h"

namespace kestrune::detail {

namespace {

// Recordings up to this size are read whole: a prompt in one call instead of hundreds.
constexpr off_t kWholeFile = off_t{4} << 20;

}  // namespace

int AudioInput::opened(const Source& source) {
    ReaderOutcome reader = openReader(source);
    if (!reader) return fail(std::move(reader.failure()));
    reader_ = std::move(*reader);
    return kStatusFinished;
}

int AudioInput::open(const std::string& path) {
    const bool standardInput = path == "-";
    const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0 && !standardInput) close(fd);
        return fail(Failure{kStatusInputOpen, std::string("cannot open: ") + std::strerror(error)});
    }
    if (S_ISREG(st.st_mode) && st.st_size <= kWholeFile) {
        // A short recording is read whole, in one call, and parsed from memory.
        whole_.resize(static_cast<std::size_t>(st.st_size));
        const ssize_t got = pread(fd, whole_.data(), whole_.size(), 0);
        const int error = errno;
        if (!standardInput) close(fd);
        if (got < 0)
            return fail(Failure{kStatusRead, std::string("cannot read: ") + std::strerror(error)});
        whole_.resize(static_cast<std::size_t>(got));  // it may have shrunk meanwhile
        return openMemory(whole_);
    }
    if (S_ISREG(st.st_mode)) {
        if (!standardInput) fd_ = fd;  // closed with the input
        return opened({.bytes = {}, .fd = fd});
    }
    // Anything else is read once, into a file that can be read again.
    const Outcome<int> held = inputHeldCopy(fd);
    if (!standardInput) close(fd);
    if (!held) return fail(held.failure());
    const int spool = *held;
    spool_ = fdopen(spool, "rb");
    if (spool_ == nullptr) {
        const Failure failure = Failure::system(kStatusWrite, "cannot hold the input");
        close(spool);
        return fail(failure);
    }
    return opened({.bytes = {}, .fd = spool});
}

int AudioInput::openMemory(std::span<const uint8_t> bytes) {
    return opened({.bytes = bytes});
}

int AudioInput::openSamples(std::span<const float> samples, uint32_t rate, int channels) {
    ReaderOutcome reader = sampleReader(samples, rate, channels);
    if (!reader) return fail(std::move(reader.failure()));
    reader_ = std::move(*reader);
    return kStatusFinished;
}

}  // namespace kestrune::detail
