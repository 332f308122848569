// The stream conversions both ways between a WAVE file and the device's file.
#pragma once

#include <cstdint>
#include <cstdio>

#include "adpFile.h"

// Converts the mono 16-bit PCM WAVE stream `from` into the device's file on `to`,
// encoding the data chunk (up to its declared size or the end of the input) with the
// given variant. `toCanSeek` says whether the header may be written after the payload
// when the payload's length is not known in advance; without it the codes are held in
// memory until the end. Returns kStatusFinished or the failure's status; `to` is not
// flushed or closed.
int convertWaveToAdp(FILE* from, FILE* to, bool toCanSeek, uint8_t variant);

// Decodes the device file `from` into a canonical mono 16-bit PCM WAVE file on `to`.
// Returns kStatusFinished, kStatusFormat for a bad header or a payload shorter than its
// length field (with *problem saying which, when given), or the failure's status. *info,
// when given, receives what the header says. Bytes after the payload are ignored. Samples
// past a WAVE file's 32-bit sizes are a format error.
int convertAdpToWave(FILE* from, FILE* to, AdpInfo* info = nullptr, const char** problem = nullptr);

// What a payload shorter than its header's length field is called.
inline constexpr const char* kShortPayload = "payload shorter than its length field";

// Reads the 16-byte header from `from` and checks it: kStatusFinished, kStatusRead, or
// kStatusFormat with *problem saying why.
int readCheckedAdpHeader(FILE* from, AdpInfo* info, const char** problem);

// The same in two steps, so that a bad device file is told before any output is made:
// the header read and checked (and a payload that is known to fall short), then the
// payload decoded. With `rf64`, samples past 32-bit sizes make an RF64 file instead.
int readAdpHeaderFrom(FILE* from, AdpInfo* info, const char** problem, bool rf64);
int decodeAdpPayload(FILE* from, FILE* to, const AdpInfo& info, const char** problem);
