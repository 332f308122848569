// The output's promises against hostile and unlucky surroundings, the rows of
// outputSafetyRows.sh: each runs in a fresh folder holding in.wav and the outputs the
// tools make of it the plain way (ref.adp, ref.wav). No row may leave a temporary file.
#include <gtest/gtest.h>

#include <cmath>

#include "support/testSupport.h"

namespace {

class OutputSafety : public ::testing::TestWithParam<std::string> {};

TEST_P(OutputSafety, Holds) {
    TempDir dir;
    std::vector<int16_t> samples(20000);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(8000 * std::sin(0.05 * static_cast<double>(i)));
    }
    writeFile(dir.file("in.wav"), monoWave(samples, 16000));
    const std::string prelude = "set -eu; E='" KESTRUNE_ENC "'; D='" KESTRUNE_DEC
                                "'; $E in.wav ref.adp 4ADP2 >/dev/null;"
                                "$D ref.adp ref.wav >/dev/null;";
    expectRow(KESTRUNE_TESTS "/outputSafetyRows.sh", GetParam(), dir.path, prelude);
    EXPECT_EQ(shell("cd '" + dir.path + "' && [ -z \"$(find . -name '.kestrune-*')\" ]"), 0)
        << "a temporary file was left";
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputSafety,
                         ::testing::ValuesIn(scriptRows(KESTRUNE_TESTS "/outputSafetyRows.sh")),
                         [](const auto& info) { return info.param; });

}  // namespace
