// Seams through which the payload's allocations and reads, and the closing of the output,
// pass, so tests can make them fail. The defaults are malloc, realloc, free, fread and
// fclose.
#pragma once

#include <cstddef>
#include <cstdio>

namespace kestrune::detail {

struct IoHooks {
    void* (*allocate)(std::size_t bytes);
    void* (*reallocate)(void* block, std::size_t bytes);
    void (*release)(void* block);
    std::size_t (*read)(void* dst, std::size_t size, std::size_t n, FILE* fp);
    int (*close)(FILE* fp);
};

extern IoHooks ioHooks;

// Restores the defaults.
void resetIoHooks();

}  // namespace kestrune::detail
