#include "io/ioHooks.h"

#include <cstdlib>

namespace kestrune::detail {

namespace {
constexpr IoHooks kDefaultHooks = {std::malloc, std::realloc, std::free, std::fread, std::fclose};
}

IoHooks ioHooks = kDefaultHooks;

void resetIoHooks() {
    ioHooks = kDefaultHooks;
}

}  // namespace kestrune::detail
