#include "adpFile.h"

#include <algorithm>
#include <cstring>

#include "codec/adpcm.h"
#include "io/status.h"

int readAdpHeader(const uint8_t* h, uint16_t* rate, uint32_t* payloadLength) {
    static constexpr uint8_t kFourBit[4] = {0x80, 0x01, 0x01, 0x04};
    static constexpr uint8_t kTwoBit[4] = {0x80, 0x00, 0x01, 0x02};
    if (std::memcmp(h, kAdpMark, sizeof kAdpMark) != 0) return -1;
    int variant = -1;
    if (std::memcmp(h + 4, kFourBit, 4) == 0) variant = kVariant4Bit;
    if (std::memcmp(h + 4, kTwoBit, 4) == 0) variant = kVariant2Bit;
    *rate = static_cast<uint16_t>((h[8] << 8) | h[9]);
    *payloadLength = (static_cast<uint32_t>(h[12]) << 24) | (static_cast<uint32_t>(h[13]) << 16) |
                     (static_cast<uint32_t>(h[14]) << 8) | h[15];
    return variant;
}

bool rateAccepted(uint32_t rate) {
    return std::find(kAcceptedRates.begin(), kAcceptedRates.end(), rate) != kAcceptedRates.end();
}

int makeAdpHeader(int32_t payloadLength, uint16_t rate, uint8_t variant, uint8_t* header) {
    header[0] = 'A';
    header[1] = 'u';
    header[2] = 'd';
    header[3] = 'i';
    header[6] = 0x01;
    header[4] = (variant == kVariant4Bit || variant == kVariant2Bit) ? 0x80 : 0x00;
    header[5] = variant == kVariant4Bit ? 0x01 : 0x00;
    header[7] = variantSupported(variant) ? length[variant] : 0x00;
    header[8] = static_cast<uint8_t>(rate >> 8);
    header[9] = static_cast<uint8_t>(rate);
    header[10] = 0x00;
    header[11] = 0x00;
    const auto n = static_cast<uint32_t>(payloadLength);
    header[12] = static_cast<uint8_t>(n >> 24);
    header[13] = static_cast<uint8_t>(n >> 16);
    header[14] = static_cast<uint8_t>(n >> 8);
    header[15] = static_cast<uint8_t>(n);
    return 0;
}

kestrune::detail::Done checkAdpHeader(const uint8_t* header, AdpInfo* info) {
    uint16_t rate = 0;
    uint32_t payloadLength = 0;
    const int variant = readAdpHeader(header, &rate, &payloadLength);
    *info = AdpInfo{variant, rate, payloadLength};
    const char* why = nullptr;
    if (std::memcmp(header, kAdpMark, sizeof kAdpMark) != 0) {
        why = "not a device file (no \"Audi\" mark)";
    } else if (variant < 0) {
        why = "not a device file (unknown code description in bytes 4-7)";
    } else if (rate == 0) {
        why = "not a device file (sample rate 0)";
    }
    if (why == nullptr) return {};
    return kestrune::detail::Failure{kStatusFormat, why};
}
