// The device file's writer: the header and the codes onto a stream, as they come.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>

// Writes n bytes; kStatusFinished or kStatusWrite.
int writeAll(FILE* to, const uint8_t* bytes, std::size_t n);

// Writes a device file onto a stream as its codes come. The header goes first when the
// payload's length is known; otherwise a stream that can seek gets a header rewritten at
// the end, and one that cannot has the codes held in memory until then.
struct AdpWriter {
    FILE* to;
    uint32_t rate;
    uint8_t variant;
    bool hold;
    off_t headerAt;  // where the header is rewritten; -1 when it is final or held
    uint8_t* held;
    std::size_t heldSize;
    std::size_t heldCapacity;
    uint64_t written;  // payload bytes so far
};

// Starts the file; `length` is the payload's length in bytes, or -1 when not known yet.
// Returns kStatusFinished or the failure's status.
int adpWriterStart(AdpWriter* writer, FILE* to, bool toCanSeek, uint32_t rate, uint8_t variant,
                   int64_t length);
int adpWriterAdd(AdpWriter* writer, const uint8_t* codes, std::size_t n);
// Completes the header (or writes the held file). `to` is not flushed or closed.
int adpWriterFinish(AdpWriter* writer);
// Frees held codes; call on every path once started.
void adpWriterRelease(AdpWriter* writer);
