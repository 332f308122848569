// The temporary files of outputs being written, which a fatal signal removes before the
// process ends: a fixed table of slots, each a folder's descriptor and a name in it, read
// by the handler with nothing but atomic loads and unlinkat (async-signal-safe).
#pragma once

#include <cstddef>
#include <string>

namespace kestrune::detail {

inline constexpr char kTempPrefix[] = ".kestrune-";
inline constexpr std::size_t kTempRandom = 8;

// Installs the handler for every fatal signal the caller has not set, once.
void installSignalHandlers();
// A free slot, or -1 when all are taken; armed once its file exists, released after.
int claimSlot();
void armSlot(int slot, int folder, const std::string& name);
void releaseSlot(int slot);
// A folder made for outputs, which a fatal signal removes too (the latest first) when it
// is empty; relative paths are to the working folder, which the process keeps.
void noteMadeFolder(const std::string& path);

}  // namespace kestrune::detail
