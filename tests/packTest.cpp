// Images and C source: the image's layout against its index, and the rows of packRows.sh
// (pack, unpack, --format c) as users run them.
#include <gtest/gtest.h>

#include "support/toolRows.h"
#include "tool/pack.h"

namespace {

using namespace kestrune::tool;

// An image's layout: each device file aligned after the index; offsets or a length past
// the index's 32 bits are refused (length 0 in a row).
TEST(PackImage, LayoutFitsTheIndex) {
    using Lengths = std::vector<uint64_t>;
    const struct {
        Lengths lengths, offsets;
        unsigned align;
        uint64_t length;
    } rows[] = {{{}, {}, 4, 16},
                {{17, 16}, {32, 52}, 4, 68},
                {{3}, {32}, 16, 35},
                {{0xFFFFFFFFu - 24}, {24}, 1, 0xFFFFFFFFu},
                {{0xFFFFFFFFu - 23}, {}, 1, 0},
                {{0x80000000u, 0x80000000u}, {}, 4, 0}};
    for (const auto& r : rows) {
        const auto l = planImage(r.lengths, r.align);
        EXPECT_EQ(l ? l->length : 0, r.length);
        EXPECT_EQ(l ? l->offsets : Lengths{}, r.offsets);
    }
}

KESTRUNE_TOOL_ROWS(PackRows, KESTRUNE_TESTS "/packRows.sh");

}  // namespace
