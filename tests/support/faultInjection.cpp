// Linked only into the test builds of the tools. KESTRUNE_FAULT=alloc makes every payload
// allocation fail; KESTRUNE_FAULT=read turns every payload read into an I/O error;
// KESTRUNE_FAULT=close makes closing the output fail, as a full quota on NFS does.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "io/ioHooks.h"

using kestrune::detail::ioHooks;

namespace {

void* failAllocation(std::size_t) {
    return nullptr;
}
void* failReallocation(void*, std::size_t) {
    return nullptr;
}

// Closes the descriptor under the stream and reads on, so the stream meets a real error.
std::size_t failRead(void* dst, std::size_t size, std::size_t n, FILE* fp) {
    close(fileno(fp));
    while (std::fread(dst, size, n, fp) > 0) {
    }
    return 0;
}

struct InstallFaults {
    InstallFaults() {
        const char* fault = std::getenv("KESTRUNE_FAULT");
        if (fault == nullptr) return;
        if (std::strcmp(fault, "alloc") == 0) {
            ioHooks.allocate = failAllocation;
            ioHooks.reallocate = failReallocation;
        } else if (std::strcmp(fault, "read") == 0) {
            ioHooks.read = failRead;
        } else if (std::strcmp(fault, "close") == 0) {
            ioHooks.close = [](FILE* fp) {
                std::fclose(fp);
                return EOF;
            };
        }
    }
} installFaults;

}  // namespace
