#include "convertFiles.h"

#include "messages.h"
#include "outputFile.h"

namespace {
FILE* from_fp = nullptr;
OutputFile to_fp{};
}  // namespace

int convertFiles(const char* inPath, const char* outPath, ConvertFn convert, uint8_t variant) {
    int status = inputOpen(inPath, &from_fp);
    if (status != kStatusFinished) return status;
    status = outputOpen(&to_fp, outPath, from_fp);
    if (status == kStatusFinished) {
        status = convert(from_fp, to_fp.fp, to_fp.canSeek, variant);
        if (status == kStatusFinished) {
            status = outputCommit(&to_fp);
        } else {
            outputDiscard(&to_fp);
        }
    }
    std::fclose(from_fp);
    from_fp = nullptr;
    return status;
}
