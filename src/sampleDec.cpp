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

using kestrune::detail::convertAdpToWave;
using kestrune::detail::convertFiles;
using kestrune::detail::kDecoderUsage;
using kestrune::detail::OutputFile;
using kestrune::detail::printOutcome;
using kestrune::detail::statusExitCode;

namespace {

int run(int argc, char** argv, bool* toStdout) {
    if (argc != 3) return kStatusUsage;
    const auto convert = [](FILE* from, const OutputFile& to) {
        return convertAdpToWave(from, to.fp);
    };
    return convertFiles(argv[1], argv[2], convert, toStdout);
}

}  // namespace

int main(int argc, char** argv) {
    bool toStdout = false;
    const int status = run(argc, argv, &toStdout);
    printOutcome(status, kDecoderUsage, toStdout);
    return statusExitCode(status);
}
