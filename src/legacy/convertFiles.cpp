#include "legacy/convertFiles.h"

#include <sys/stat.h>

#include "io/inputFile.h"
#include "io/outputFile.h"
#include "legacy/messages.h"

namespace kestrune::detail {

namespace {
FILE* from_fp = nullptr;
OutputFile to_fp{};
}  // namespace

int convertFiles(const char* inPath, const char* outPath, const ConvertFn& convert,
                 bool* outputIsStdout) {
    *outputIsStdout = false;
    int status = inputOpen(inPath, &from_fp);
    if (status != kStatusFinished) return status;
    struct stat input;
    const bool known = fstat(fileno(from_fp), &input) == 0;
    status = outputOpen(&to_fp, outPath, known ? &input : nullptr);
    if (status == kStatusFinished) {
        *outputIsStdout = to_fp.isStdout;
        status = convert(from_fp, to_fp).status();
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

void printOutcome(int status, const char* usage, bool outputIsStdout) {
    FILE* to = outputIsStdout ? stderr : stdout;
    if (status == kStatusUsage) {
        std::fputs(kUsageHeader, to);
        std::fputs(usage, to);
    } else {
        std::fputs(statusMessage(status), to);
    }
}

}  // namespace kestrune::detail
