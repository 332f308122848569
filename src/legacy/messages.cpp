#include "legacy/messages.h"

#include <array>

namespace kestrune::detail {

namespace {

struct Message {
    int status;
    const char* text;
};

constexpr std::array<Message, 9> kMessages = {{
    {kStatusFinished, "CONVERT FINISHED!!\n"},
    {kStatusUsage, kUsageHeader},
    {kStatusInputOpen, "INPUT FILE OPEN ERROR!!!!\n"},
    {kStatusOutputOpen, "OUTPUT FILE OPEN ERROR!!!!\n"},
    {kStatusFormat, "INPUT FILE FORMAT ERROR!!!\n"},
    {kStatusRate, "sampling frequency error!!!\n"},
    {kStatusMemory, "Memory isn't enough !!\n"},
    {kStatusRead, "Read error!\n"},
    {kStatusWrite, "Write error!\n"},
}};

}  // namespace

const char* statusMessage(int status) {
    for (const Message& m : kMessages) {
        if (m.status == status) return m.text;
    }
    return "";
}

int statusExitCode(int status) {
    if (status == kStatusFinished) return 0;
    return status == kStatusUsage ? 2 : 1;
}

}  // namespace kestrune::detail
