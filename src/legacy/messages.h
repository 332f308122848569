// The legacy tools' fixed texts and exit status. Only main prints them.
#pragma once

#include "io/status.h"

namespace kestrune::detail {

// First usage line, shared by both tools; each tool follows it with its own lines.
inline constexpr const char* kUsageHeader = "PARAMETER ERROR!!!\n";
inline constexpr const char* kEncoderUsage =
    "KestruneAdpcmEnc.exe <Input Pcm File> <Output Adpcm File> <Method>\n"
    "  Method : [2ADP2]or[4ADP2]\n";
inline constexpr const char* kDecoderUsage =
    "kestrune-adpcm-dec <Input Adpcm File> <Output Pcm File>\n";

// The line printed for a status other than kStatusUsage.
const char* statusMessage(int status);

// Process exit status: 0 on success, 2 for a usage error, 1 for any other failure.
int statusExitCode(int status);

}  // namespace kestrune::detail
