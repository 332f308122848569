#include "io/ioHooks.h"

#include <cstdlib>

namespace {
constexpr IoHooks kDefaultHooks = {std::malloc, std::realloc, std::free, std::fread, std::fclose};
}

IoHooks ioHooks = kDefaultHooks;

void resetIoHooks() {
    ioHooks = kDefaultHooks;
}
