// The block encoder written as the plain per-sample loop over enc: the yardstick that
// the table-driven block coder is measured and checked against.
#pragma once

#include <cstdint>

#include "codec/adpcm.h"

// State of one stream for the reference loop; zero-initialise to reset.
struct ReferenceEncoder {
    AdpcmParam param;
    uint8_t pending;       // codes waiting for a byte, earliest in the most significant bits
    uint8_t pendingCount;  // how many
};

// Encodes the samples like tarquel_enc mode 4 and returns the number of bytes written.
int32_t referenceEncode(ReferenceEncoder* state, uint8_t variant, const int16_t* samples,
                        uint32_t sampleCount, uint8_t* out);
