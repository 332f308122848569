// kestrune-adpcm-dec: turns the device's ADPCM file back into a mono 16-bit PCM WAVE
// file, so that a prompt can be heard as the device will play it.
//
//   kestrune-adpcm-dec <Input Adpcm File> <Output Pcm File>
#include <cstdint>
#include <cstdio>

#include "adpFile.h"
#include "device/conversions.h"
#include "legacy/convertFiles.h"
#include "legacy/messages.h"

namespace {

int decodeFile(FILE* from, FILE* to, bool /*toCanSeek*/, uint8_t /*variant*/) {
    return convertAdpToWave(from, to);
}

int run(int argc, char** argv, bool* toStdout) {
    if (argc != 3) return kStatusUsage;
    return convertFiles(argv[1], argv[2], decodeFile, 0, toStdout);
}

}  // namespace

int main(int argc, char** argv) {
    bool toStdout = false;
    const int status = run(argc, argv, &toStdout);
    printOutcome(status, kDecoderUsage, toStdout);
    return statusExitCode(status);
}
