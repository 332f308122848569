// What a kestrune::Recording holds: the audio chain and the options it was prepared with.
#pragma once

#include "audio/audioInput.h"
#include "kestrune/recording.hpp"

namespace kestrune {

struct Recording::State {
    detail::AudioInput audio;
    RecordingOptions options;
    bool prepared = false;
};

}  // namespace kestrune
