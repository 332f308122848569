// How a run or a step ended: one status integer, 0 for success and negative for each way
// of failing. The legacy tools print a fixed line for each; kestrune-adpcm a message.
#pragma once

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
// How many statuses there are: 0 down to -(kStatusCount - 1). A table over them has a row
// for each, and checks that it has.
inline constexpr int kStatusCount = 10;
