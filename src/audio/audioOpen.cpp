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
#include "io/inputFile.h"
#include "io/status.h"

namespace {

// Recordings up to this size are read whole: a prompt in one call instead of hundreds.
constexpr off_t kWholeFile = off_t{4} << 20;

sf_count_t memoryLength(void* user) {
    return static_cast<sf_count_t>(static_cast<MemoryReader*>(user)->bytes.size());
}

sf_count_t memorySeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<MemoryReader*>(user);
    const auto size = static_cast<sf_count_t>(m->bytes.size());
    const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->at : size;
    if (offset < -base || offset > size - base) return -1;
    m->at = base + offset;
    return m->at;
}

sf_count_t memoryRead(void* dst, sf_count_t count, void* user) {
    auto* m = static_cast<MemoryReader*>(user);
    const sf_count_t n =
        std::clamp<sf_count_t>(count, 0, static_cast<sf_count_t>(m->bytes.size()) - m->at);
    if (n > 0) std::memcpy(dst, m->bytes.data() + m->at, static_cast<std::size_t>(n));
    m->at += n;
    return n;
}

sf_count_t memoryWrite(const void*, sf_count_t, void*) {
    return 0;
}

sf_count_t memoryTell(void* user) {
    return static_cast<MemoryReader*>(user)->at;
}

}  // namespace

int AudioInput::opened(SNDFILE* file) {
    file_ = file;
    if (file_ == nullptr) {
        return fail(kStatusFormat,
                    std::string("not audio that can be read: ") + sf_strerror(nullptr));
    }
    if (info_.channels < 1 || info_.samplerate < 1) {
        return fail(kStatusFormat, "not audio that can be read: no channels or no sample rate");
    }
    return kStatusFinished;
}

int AudioInput::open(const std::string& path) {
    const bool standardInput = path == "-";
    const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0 && !standardInput) close(fd);
        return fail(kStatusInputOpen, std::string("cannot open: ") + std::strerror(error));
    }
    if (S_ISREG(st.st_mode) && st.st_size <= kWholeFile) {
        // A short recording is read whole, in one call, and parsed from memory.
        whole_.resize(static_cast<std::size_t>(st.st_size));
        const ssize_t got = pread(fd, whole_.data(), whole_.size(), 0);
        const int error = errno;
        if (!standardInput) close(fd);
        if (got < 0) return fail(kStatusRead, std::string("cannot read: ") + std::strerror(error));
        whole_.resize(static_cast<std::size_t>(got));  // it may have shrunk meanwhile
        return openMemory(whole_);
    }
    if (S_ISREG(st.st_mode)) return opened(sf_open_fd(fd, SFM_READ, &info_, !standardInput));
    // Anything else is read once, into a file that can be read again.
    std::string why;
    const int spool = inputHeldCopy(fd, &why);
    if (!standardInput) close(fd);
    if (spool < 0) return fail(why.starts_with("cannot read") ? kStatusRead : kStatusWrite, why);
    spool_ = fdopen(spool, "rb");
    if (spool_ == nullptr) {
        const int error = errno;
        if (spool_ == nullptr) close(spool);
        return fail(kStatusWrite, std::string("cannot hold the input: ") + std::strerror(error));
    }
    return opened(sf_open_fd(spool, SFM_READ, &info_, SF_FALSE));
}

int AudioInput::openMemory(std::span<const uint8_t> bytes) {
    memory_ = MemoryReader{bytes, 0};
    static SF_VIRTUAL_IO io = {memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    return opened(sf_open_virtual(&io, SFM_READ, &info_, &memory_));
}
