#include "support/reference.h"

int32_t referenceEncode(ReferenceEncoder* state, uint8_t variant, const int16_t* samples,
                        uint32_t sampleCount, uint8_t* out) {
    if (!variantSupported(variant)) return 0;
    int32_t written = 0;
    for (uint32_t i = 0; i < sampleCount; ++i) {
        state->param.pcm = samples[i];
        enc(variant, &state->param);
        const auto code = static_cast<uint8_t>(state->param.code & anddata[variant]);
        state->pending = static_cast<uint8_t>((state->pending << length[variant]) | code);
        if (++state->pendingCount == count[variant]) {
            out[written++] = state->pending;
            state->pending = 0;
            state->pendingCount = 0;
        }
    }
    return written;
}
