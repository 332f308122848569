// libsndfile's virtual I/O over bytes in memory: one adapter for every reader, writer, test
// and fuzzer that hands libsndfile a buffer instead of a file.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <span>
#include <vector>

namespace kestrune::detail {

class MemoryIo {
public:
    // Reads `bytes`, which must outlive the adapter and every file opened on it.
    explicit MemoryIo(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    // Writes into bytes(), which grows as libsndfile writes.
    MemoryIo() : writable_(true) {}
    MemoryIo(const MemoryIo&) = delete;
    MemoryIo& operator=(const MemoryIo&) = delete;

    // sf_open_virtual on these bytes: SFM_READ, or SFM_WRITE for a writable adapter.
    SNDFILE* open(SF_INFO* info);
    std::span<const uint8_t> bytes() const { return writable_ ? written_ : bytes_; }
    std::vector<uint8_t> take() { return std::move(written_); }

private:
    static sf_count_t length(void* self);
    static sf_count_t seek(sf_count_t offset, int whence, void* self);
    static sf_count_t read(void* to, sf_count_t count, void* self);
    static sf_count_t write(const void* from, sf_count_t count, void* self);
    static sf_count_t tell(void* self);

    std::span<const uint8_t> bytes_;
    std::vector<uint8_t> written_;
    bool writable_ = false;
    sf_count_t at_ = 0;
};

}  // namespace kestrune::detail
