// The device's ADPCM file header: 16 bytes that say "Audi", how the codes are made, the
// sample rate and the payload's length.
#pragma once

#include <array>
#include <cstdint>

#include "codec/adpcm.h"
#include "io/failure.h"

inline constexpr std::size_t kAdpHeaderSize = 16;
// Why a recording cannot become a device file: its length field holds 32 bits of bytes.
inline constexpr const char* kTooLongForDevice =
    "too long for a device file (its length field holds at most 4294967295 bytes)";
// The four bytes a device file starts with.
inline constexpr char kAdpMark[4] = {'A', 'u', 'd', 'i'};

// Sample rates the device plays, in Hz.
inline constexpr std::array<uint32_t, 8> kAcceptedRates = {4000,  5300,  6400,  8000,
                                                           10600, 12800, 16000, 32000};

bool rateAccepted(uint32_t rate);

// The code width a variant stands for in the header, and back: the variant is the
// codec's and the header's word, bits (4 or 2) everyone else's.
constexpr int adpBits(uint8_t variant) {
    return variant == kVariant2Bit ? 2 : 4;
}
constexpr uint8_t adpVariant(int bits) {
    return bits == 2 ? kVariant2Bit : kVariant4Bit;
}

// Fills the 16-byte header: "Audi", the variant's code description, the rate (high byte
// first) and the payload length (most significant byte first). Returns 0.
int makeAdpHeader(int32_t payloadLength, uint16_t rate, uint8_t variant, uint8_t* header);

// Reads the 16-byte header and returns the variant it describes (0 or 13, or -1 when the
// header is not one of the two), with the rate and payload length.
int readAdpHeader(const uint8_t* header, uint16_t* rate, uint32_t* payloadLength);

// What a device file's header says.
struct AdpInfo {
    int variant;  // kVariant4Bit, kVariant2Bit, or -1
    uint16_t rate;
    uint32_t payloadLength;  // bytes
    int bits() const { return adpBits(static_cast<uint8_t>(variant)); }
    uint64_t samples() const { return uint64_t{payloadLength} * (8 / bits()); }
};

// Reads the 16-byte header into *info. Fails (kStatusFormat, saying why) unless it is a
// device file's header that can be decoded.
kestrune::detail::Done checkAdpHeader(const uint8_t* header, AdpInfo* info);
