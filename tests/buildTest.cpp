// kestrune-adpcm build as its users run it: the bash rows of buildRows.sh, each in a fresh
// folder holding prompt.wav.
#include <gtest/gtest.h>

#include "support/testSupport.h"

namespace {

class BuildRows : public ::testing::TestWithParam<std::string> {
protected:
    TempDir dir;
};

TEST_P(BuildRows, Holds) {
    ASSERT_EQ(shell("cp '" KESTRUNE_EXAMPLE "' '" + dir.path + "/prompt.wav'"), 0);
    expectRow(KESTRUNE_TESTS "/buildRows.sh", GetParam(), dir.path,
              "set -e; K='" KESTRUNE_ADPCM "'; M='" KESTRUNE_MAKE_RECORDING "';");
}

INSTANTIATE_TEST_SUITE_P(Rows, BuildRows,
                         ::testing::ValuesIn(scriptRows(KESTRUNE_TESTS "/buildRows.sh")),
                         [](const auto& info) { return info.param; });

}  // namespace
