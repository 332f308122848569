// Many files at once: the progress line's figures, and the rows of batchRows.sh (failures
// kept apart, descriptors, what a terminal shows) as users run them.
#include <gtest/gtest.h>

#include "support/toolRows.h"
#include "tool/batch.h"

namespace {

using namespace kestrune::tool;

// The progress line: files not yet started are as long as those measured; a file in
// flight is counted once.
TEST(Progress, TimeLeft) {
    const struct {
        ProgressFigures f;
        const char* line;
    } rows[] = {
        {{4, 2, 2, 1, 5, 10, 1}, "1/4 files, 5.0 s of audio, 5.0x real time, 0:03 left"},
        {{4, 3, 2, 2, 12, 20, 2}, "2/4 files, 12.0 s of audio, 6.0x real time, 0:03 left"},
        {{10, 10, 10, 9, 600, 660, 10}, "9/10 files, 600.0 s of audio, 60.0x real time, 0:01 left"},
        {{2, 2, 2, 2, 8, 8, 1}, "2/2 files, 8.0 s of audio, 8.0x real time"},
        {{3, 1, 0, 0, 4, 0, 1}, "0/3 files, 4.0 s of audio"},
        {{3, 1, 1, 0, 4, 8, 0.5}, "0/3 files, 4.0 s of audio"},
    };
    for (const auto& r : rows) EXPECT_EQ(progressText(r.f), r.line);
}

KESTRUNE_TOOL_ROWS(BatchRows, KESTRUNE_TESTS "/batchRows.sh");

}  // namespace
