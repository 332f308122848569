// What pack reads, on arbitrary bytes: a list file's entries, a device file's check (from a
// file and from a pipe, which must agree), and an image read back through its one reader,
// whose index must be what the layout it read writes.
#include <sys/stat.h>

#include <cstdlib>
#include <string_view>

#include "adpFile.h"
#include "fuzzSupport.h"
#include "io/status.h"
#include "tool/jobs.h"
#include "tool/listFile.h"
#include "tool/pack.h"

using namespace kestrune::tool;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const std::string& e : listEntries({reinterpret_cast<const char*>(data), size})) {
        if (e.empty() || e[0] == '#' || e.find('\n') != std::string::npos ||
            e.find_first_of(" \t\r") == 0 || e.find_last_of(" \t\r") == e.size() - 1) {
            std::abort();
        }
    }
    int statuses[2];
    for (const bool seekable : {true, false}) {
        FuzzPipe pipe;
        FILE* from = fuzzInput(data, size, seekable, &pipe);
        struct stat st {};
        st.st_mode = seekable ? S_IFREG : S_IFIFO;
        st.st_size = static_cast<off_t>(size);
        AdpInfo info{};
        const kestrune::detail::Done checked = checkDeviceFile(from, st, &info);
        statuses[seekable] = checked.status();
        std::fclose(from);
        if (statuses[seekable] == kStatusFinished &&
            (size < kAdpHeaderSize || info.payloadLength > size - kAdpHeaderSize)) {
            std::abort();
        }
        if (!checked && checked.failure().reason.empty()) std::abort();
    }
    if (statuses[0] != statuses[1]) std::abort();

    FuzzPipe unused;
    FILE* image = fuzzInput(data, size, true, &unused);
    const auto read = readImage(image, size);
    if (read) {
        const ImageLayout& layout = read->layout;
        const std::vector<uint8_t> index = imageIndex(layout);
        if (layout.length != size || index.size() > size ||
            std::memcmp(index.data(), data, index.size()) != 0) {
            std::abort();
        }
    } else if (read.failure().reason.empty()) {
        std::abort();
    }
    std::fclose(image);
    return 0;
}
