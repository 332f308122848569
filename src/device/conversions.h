// The stream conversions both ways between a WAVE file and the device's file.
#pragma once

#include <cstdint>
#include <cstdio>

#include "adpFile.h"
#include "io/failure.h"

namespace kestrune::detail {

// Converts the mono 16-bit PCM WAVE stream `from` into the device's file on `to`,
// encoding the data chunk (up to its declared size or the end of the input) with the
// given variant. `toCanSeek` says whether the header may be written after the payload
// when the payload's length is not known in advance; without it the codes are held in
// memory until the end. `to` is not flushed or closed.
Done convertWaveToAdp(FILE* from, FILE* to, bool toCanSeek, uint8_t variant);

// Decodes the device file `from` into a canonical mono 16-bit PCM WAVE file on `to`.
// Fails with kStatusFormat for a bad header or a payload shorter than its length field
// (saying which), or with the status of what else failed. *info, when given, receives what
// the header says. Bytes after the payload are ignored. Samples past a WAVE file's 32-bit
// sizes are a format error.
Done convertAdpToWave(FILE* from, FILE* to, AdpInfo* info = nullptr);

// What a payload shorter than its header's length field is called.
inline constexpr const char* kShortPayload = "payload shorter than its length field";

// Reads the 16-byte header from `from` and checks it: fails with kStatusRead (no reason:
// the caller names its input), or kStatusFormat saying why.
Done readCheckedAdpHeader(FILE* from, AdpInfo* info);

// The same in two steps, so that a bad device file is told before any output is made:
// the header read and checked (and a payload that is known to fall short), then the
// payload decoded. With `rf64`, samples past 32-bit sizes make an RF64 file instead.
// A write that fails gives errno's text as its reason; a read, none.
Done readAdpHeaderFrom(FILE* from, AdpInfo* info, bool rf64);
Done decodeAdpPayload(FILE* from, FILE* to, const AdpInfo& info);

}  // namespace kestrune::detail
