// kestrune-adpcm-enc: converts a mono 16-bit PCM WAVE file into the device's ADPCM file.
//
//   kestrune-adpcm-enc <Input Pcm File> <Output Adpcm File> <Method>
//
// One conversion per run, one status line on standard output (on standard error when the
// output itself is standard output).
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "adpFile.h"
#include "codec/adpcm.h"
#include "device/conversions.h"
#include "legacy/convertFiles.h"
#include "legacy/messages.h"

using kestrune::detail::convertFiles;
using kestrune::detail::convertWaveToAdp;
using kestrune::detail::kEncoderUsage;
using kestrune::detail::OutputFile;
using kestrune::detail::printOutcome;
using kestrune::detail::statusExitCode;

namespace {

struct Method {
    const char* keyword;
    uint8_t variant;
};

// The keyword is matched on its first five bytes.
constexpr std::size_t kKeywordBytes = 5;
constexpr std::array<Method, 2> kMethods = {{
    {"4ADP2", kVariant4Bit},
    {"2ADP2", kVariant2Bit},
}};

const Method* findMethod(const char* arg) {
    for (const Method& m : kMethods) {
        if (std::strncmp(arg, m.keyword, kKeywordBytes) == 0) return &m;
    }
    return nullptr;
}

int run(int argc, char** argv, bool* toStdout) {
    if (argc != 4) return kStatusUsage;
    const Method* method = findMethod(argv[3]);
    if (method == nullptr) return kStatusUsage;

    const auto convert = [method](FILE* from, const OutputFile& to) {
        return convertWaveToAdp(from, to.fp, to.canSeek, method->variant);
    };
    return convertFiles(argv[1], argv[2], convert, toStdout);
}

}  // namespace

int main(int argc, char** argv) {
    bool toStdout = false;
    const int status = run(argc, argv, &toStdout);
    printOutcome(status, kEncoderUsage, toStdout);
    return statusExitCode(status);
}
