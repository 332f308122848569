// The device file's writer: the header and the codes onto a stream, as they come.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>

namespace kestrune::detail {

// Writes n bytes; kStatusFinished or kStatusWrite.
int writeAll(FILE* to, const uint8_t* bytes, std::size_t n);

// Writes a device file onto a stream as its codes come. The header goes first when the
// payload's length is known; otherwise a stream that can seek gets a header rewritten at
// the end, and one that cannot has the codes held in memory until then (freed with the
// writer).
class AdpWriter {
public:
    AdpWriter() = default;
    AdpWriter(const AdpWriter&) = delete;
    AdpWriter& operator=(const AdpWriter&) = delete;
    ~AdpWriter();

    // Starts the file; `length` is the payload's length in bytes, or -1 when not known
    // yet. Returns kStatusFinished or the failure's status.
    int start(FILE* to, bool toCanSeek, uint32_t rate, uint8_t variant, int64_t length);
    int add(const uint8_t* codes, std::size_t n);
    // Completes the header (or writes the held file). `to` is not flushed or closed.
    int finish();
    uint64_t written() const { return written_; }  // payload bytes so far

private:
    FILE* to_ = nullptr;
    uint32_t rate_ = 0;
    uint8_t variant_ = 0;
    bool hold_ = false;
    off_t headerAt_ = -1;  // where the header is rewritten; -1 when it is final or held
    uint8_t* held_ = nullptr;
    std::size_t heldSize_ = 0;
    std::size_t heldCapacity_ = 0;
    uint64_t written_ = 0;
};

}  // namespace kestrune::detail
