// The recording as the encoder receives it: read at the device rate, levelled and trimmed
// as the settings ask. Encode prepares each recording with it, and a listening report
// each source, so that both compare the same sound.
#pragma once

#include <cstdint>

#include "audio/audioInput.h"

struct EncodeSettings;
struct FileResult;

// Starts the opened recording at `rate` and levels and trims it. False, with the result
// failed, when the audio cannot be read.
bool prepareAudio(const EncodeSettings& settings, uint32_t rate, AudioInput* audio, FileResult* r);
