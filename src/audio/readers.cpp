#include "audio/reader.h"

namespace kestrune::detail {

std::span<const ReaderRow> readers() {
    static constexpr ReaderRow kReaders[] = {
        {"libsndfile", openSndfile},
    };
    return kReaders;
}

ReaderOutcome openReader(const Source& source) {
    Failure last{kStatusFormat, ""};
    for (const ReaderRow& row : readers()) {
        ReaderOutcome reader = row.open(source);
        if (reader) return reader;
        last = std::move(reader.failure());
    }
    return last;
}

}  // namespace kestrune::detail
