// Run outcomes of the tools and the fixed texts they print. Only main prints them.
#pragma once

// Status integers: 0 for success, negative for failure.
inline constexpr int kStatusFinished = 0;
inline constexpr int kStatusUsage = -1;
inline constexpr int kStatusInputOpen = -2;
inline constexpr int kStatusOutputOpen = -3;
inline constexpr int kStatusFormat = -4;
inline constexpr int kStatusRate = -5;
inline constexpr int kStatusMemory = -6;
inline constexpr int kStatusRead = -7;
inline constexpr int kStatusWrite = -8;
// The output exists and was not to be replaced (kestrune-adpcm without -f).
inline constexpr int kStatusOutputExists = -9;

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
