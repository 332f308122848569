#include "device/adpWriter.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "adpFile.h"
#include "io/ioHooks.h"
#include "io/status.h"

namespace {

int writeHeader(FILE* to, int32_t payloadLength, uint32_t rate, uint8_t variant) {
    std::array<uint8_t, kAdpHeaderSize> header;
    makeAdpHeader(payloadLength, static_cast<uint16_t>(rate), variant, header.data());
    return writeAll(to, header.data(), header.size());
}

}  // namespace

int writeAll(FILE* to, const uint8_t* bytes, std::size_t n) {
    if (n == 0) return kStatusFinished;
    return std::fwrite(bytes, 1, n, to) == n ? kStatusFinished : kStatusWrite;
}

int adpWriterStart(AdpWriter* w, FILE* to, bool toCanSeek, uint32_t rate, uint8_t variant,
                   int64_t length) {
    *w = AdpWriter{to, rate, variant, false, -1, nullptr, 0, 0, 0};
    if (length >= 0) return writeHeader(to, static_cast<int32_t>(length), rate, variant);
    if (toCanSeek && (w->headerAt = ftello(to)) >= 0) {
        return writeHeader(to, 0, rate, variant);  // rewritten at the end
    }
    w->hold = true;
    w->headerAt = -1;
    return kStatusFinished;
}

int adpWriterAdd(AdpWriter* w, const uint8_t* codes, std::size_t n) {
    w->written += n;
    if (!w->hold || n == 0) return writeAll(w->to, codes, n);
    if (w->heldSize + n > w->heldCapacity) {
        const std::size_t capacity = std::max(w->heldCapacity * 2, w->heldSize + n);
        auto* grown = static_cast<uint8_t*>(ioHooks.reallocate(w->held, capacity));
        if (grown == nullptr) return kStatusMemory;
        w->held = grown;
        w->heldCapacity = capacity;
    }
    std::memcpy(w->held + w->heldSize, codes, n);
    w->heldSize += n;
    return kStatusFinished;
}

int adpWriterFinish(AdpWriter* w) {
    const auto length = static_cast<int32_t>(w->written);
    if (w->hold) {
        const int status = writeHeader(w->to, length, w->rate, w->variant);
        return status == kStatusFinished ? writeAll(w->to, w->held, w->heldSize) : status;
    }
    if (w->headerAt < 0) return kStatusFinished;  // the length was known from the start
    if (fseeko(w->to, w->headerAt, SEEK_SET) != 0 ||
        writeHeader(w->to, length, w->rate, w->variant) != kStatusFinished ||
        fseeko(w->to, 0, SEEK_END) != 0) {
        return kStatusWrite;
    }
    return kStatusFinished;
}

void adpWriterRelease(AdpWriter* w) {
    ioHooks.release(w->held);
    w->held = nullptr;
}
