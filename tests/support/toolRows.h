// kestrune-adpcm's bash rows: each runs in a fresh folder holding prompt.wav, with $K the
// tool, $E and $D the legacy encoder and decoder, $M make-recording and $R the README.
// Header-only: the paths are each test's compile definitions.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/testSupport.h"

inline void expectToolRow(const std::string& script, const std::string& row) {
    TempDir dir;
    ASSERT_EQ(shell("cp '" KESTRUNE_EXAMPLE "' '" + dir.path + "/prompt.wav'"), 0);
    expectRow(script, row, dir.path,
              "set -e; K='" KESTRUNE_ADPCM "'; E='" KESTRUNE_ENC "'; D='" KESTRUNE_DEC
              "'; M='" KESTRUNE_MAKE_RECORDING "'; R='" KESTRUNE_TESTS "/../README.md';");
}

// The rows of a script as a parameterised suite, each test named after its row.
#define KESTRUNE_TOOL_ROWS(Suite, script)                                          \
    class Suite : public ::testing::TestWithParam<std::string> {};                 \
    TEST_P(Suite, Holds) {                                                         \
        expectToolRow(script, GetParam());                                         \
    }                                                                              \
    INSTANTIATE_TEST_SUITE_P(Rows, Suite, ::testing::ValuesIn(scriptRows(script)), \
                             [](const auto& info) { return info.param; })
