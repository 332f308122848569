#include <array>

#include "audio/reader.h"

namespace kestrune::detail {

std::span<const ReaderRow> readers() {
    static constexpr std::array<ReaderRow, 1> kReaders = {{
        {"libsndfile", openSndfile},
    }};
    return kReaders;
}

std::unique_ptr<Reader> openReader(const Source& source, std::string* problem) {
    for (const ReaderRow& row : readers()) {
        if (std::unique_ptr<Reader> reader = row.open(source, problem)) return reader;
    }
    return nullptr;
}

}  // namespace kestrune::detail
