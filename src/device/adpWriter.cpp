#include "device/adpWriter.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "adpFile.h"
#include "io/ioHooks.h"
#include "io/status.h"

namespace kestrune::detail {

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

AdpWriter::~AdpWriter() {
    ioHooks.release(held_);
}

int AdpWriter::start(FILE* to, bool toCanSeek, uint32_t rate, uint8_t variant, int64_t length) {
    to_ = to;
    rate_ = rate;
    variant_ = variant;
    if (length >= 0) return writeHeader(to, static_cast<int32_t>(length), rate, variant);
    if (toCanSeek && (headerAt_ = ftello(to)) >= 0) {
        return writeHeader(to, 0, rate, variant);  // rewritten at the end
    }
    hold_ = true;
    headerAt_ = -1;
    return kStatusFinished;
}

int AdpWriter::add(const uint8_t* codes, std::size_t n) {
    written_ += n;
    if (!hold_ || n == 0) return writeAll(to_, codes, n);
    if (heldSize_ + n > heldCapacity_) {
        const std::size_t capacity = std::max(heldCapacity_ * 2, heldSize_ + n);
        auto* grown = static_cast<uint8_t*>(ioHooks.reallocate(held_, capacity));
        if (grown == nullptr) return kStatusMemory;
        held_ = grown;
        heldCapacity_ = capacity;
    }
    std::memcpy(held_ + heldSize_, codes, n);
    heldSize_ += n;
    return kStatusFinished;
}

int AdpWriter::finish() {
    const auto length = static_cast<int32_t>(written_);
    if (hold_) {
        const int status = writeHeader(to_, length, rate_, variant_);
        return status == kStatusFinished ? writeAll(to_, held_, heldSize_) : status;
    }
    if (headerAt_ < 0) return kStatusFinished;  // the length was known from the start
    if (fseeko(to_, headerAt_, SEEK_SET) != 0 ||
        writeHeader(to_, length, rate_, variant_) != kStatusFinished ||
        fseeko(to_, 0, SEEK_END) != 0) {
        return kStatusWrite;
    }
    return kStatusFinished;
}

}  // namespace kestrune::detail
