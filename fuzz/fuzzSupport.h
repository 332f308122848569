// Streams over the fuzzer's bytes, as the tools meet them: a file that can seek, and a
// pipe that cannot.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

struct FuzzPipe {
    const uint8_t* data;
    size_t size;
    size_t at;
};

inline ssize_t fuzzPipeRead(void* cookie, char* buf, size_t n) {
    auto* p = static_cast<FuzzPipe*>(cookie);
    size_t take = p->size - p->at;
    if (take > n) take = n;
    if (take > 997) take = 997;  // pipes deliver in pieces
    if (take == 0) return 0;
    std::memcpy(buf, p->data + p->at, take);
    p->at += take;
    return static_cast<ssize_t>(take);
}

// A read-only stream over data; seekable (fmemopen) or pipe-like (no seek function).
inline FILE* fuzzInput(const uint8_t* data, size_t size, bool seekable, FuzzPipe* pipe) {
    static uint8_t empty = 0;
    if (seekable) {
        return fmemopen(size == 0 ? &empty : const_cast<uint8_t*>(data), size, "rb");
    }
    *pipe = FuzzPipe{data, size, 0};
    cookie_io_functions_t io{fuzzPipeRead, nullptr, nullptr, nullptr};
    return fopencookie(pipe, "rb", io);
}

inline ssize_t fuzzSinkWrite(void* cookie, const char* buf, size_t n) {
    auto* v = static_cast<std::vector<uint8_t>*>(cookie);
    v->insert(v->end(), buf, buf + n);
    return static_cast<ssize_t>(n);
}

// A write-only stream collecting into sink, unable to seek.
inline FILE* fuzzPipeSink(std::vector<uint8_t>* sink) {
    cookie_io_functions_t io{nullptr, fuzzSinkWrite, nullptr, nullptr};
    return fopencookie(sink, "wb", io);
}
