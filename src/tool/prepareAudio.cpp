#include "tool/prepareAudio.h"

#include "io/status.h"
#include "tool/jobs.h"

bool prepareAudio(const EncodeSettings& settings, uint32_t rate, AudioInput* audio, FileResult* r) {
    LevelResult level;
    if (audio->start(settings.audio, rate) != kStatusFinished ||
        (settings.levelling.any() &&
         audio->level(settings.levelling, settings.bits == 2 ? kPeak2Bit : kPeak4Bit, &level) !=
             kStatusFinished)) {
        r->fail(audio->status(), audio->problem());
        return false;
    }
    r->loudnessIn = level.loudnessIn;
    r->gainDb = level.gainDb;
    r->trimStartMs = level.trimStartMs;
    r->trimEndMs = level.trimEndMs;
    r->warnings.insert(r->warnings.end(), level.warnings.begin(), level.warnings.end());
    return true;
}
