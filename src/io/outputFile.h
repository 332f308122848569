// Writing the output so that it appears complete or not at all.
//
// A regular output (or a new one) is written to a hidden temporary file in its folder,
// `.kestrune-XXXXXXXX`, which is flushed, synced and renamed over the target only once
// everything is written; a failed or interrupted run removes it and leaves an existing
// target untouched. The folder is held open for the whole run, so the temporary file is
// renamed or removed wherever the folder has moved meanwhile. A symbolic link is never
// replaced: the file it leads to is. An output that is not a regular file (a device, a
// pipe) or that names one of this process's descriptors (/dev/stdout, /dev/fd/N,
// /proc/self/fd/N) is written in place, through that descriptor.
//
// Several outputs may be open at once, from several threads.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

namespace kestrune::detail {

// Outputs written through temporary files that may be open at once, process-wide.
inline constexpr int kMaxTemporaryOutputs = 4096;

// Tells the fatal-signal handler whether standard error has a line in progress (a
// progress line), which it then ends, so that the shell's prompt starts on a line of its
// own.
void outputMarkTerminalLine(bool open);

struct OutputFile {
    FILE* fp = nullptr;
    bool canSeek = false;   // the header may be rewritten after the payload
    bool isStdout = false;  // written in place onto this process's standard output
    int folder = -1;        // the target's folder when written through a temporary file
    int slot = -1;          // the temporary file's entry among those a signal removes
    std::string name;       // the target's name in its folder
    std::string temp;       // the temporary file's name in the same folder
    bool replace = true;    // an existing file may be replaced
    std::string problem;    // why it could not be opened or committed

    // An output is owned by one OutputFile at a time: one still open when its owner goes
    // (neither committed nor discarded) is discarded.
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    OutputFile(OutputFile&& other) noexcept { *this = std::move(other); }
    OutputFile& operator=(OutputFile&& other) noexcept;
    ~OutputFile();
};

// What an output path names, links followed: a name in a folder, or a descriptor. Two
// paths that name the same output have equal identities.
struct OutputIdentity {
    uint64_t device = 0, inode = 0;  // the folder's, or the descriptor's file's
    std::string name;                // in the folder; empty for a descriptor
    bool operator<(const OutputIdentity& o) const {
        return device != o.device ? device < o.device
               : inode != o.inode ? inode < o.inode
                                  : name < o.name;
    }
};

// False when the path cannot lead to an output (a missing folder, a loop of links).
bool outputIdentity(const char* path, OutputIdentity* id);

// What makes two files one for the output's input check: the same device (any node of
// it), or else the same file (any path, link or hard link).
struct FileKey {
    uint64_t device = 0, inode = 0;
    bool isDevice = false;
    auto operator<=>(const FileKey&) const = default;
};
FileKey fileKey(const struct stat& st);

// The file that writing to path would write over, links followed; false when none is there.
bool outputExisting(const char* path, struct stat* st);

// Creates the output for path. Fails with kStatusOutputOpen when it cannot be created or
// written, when it is a link that leads nowhere it could be written, or when it is the
// input itself (`input`, when given: the same file, or the same device). Without
// `replace`, an existing regular file fails with kStatusOutputExists, here or, when one
// appears meanwhile, on commit. out->problem says why it failed.
int outputOpen(OutputFile* out, const char* path, const struct stat* input, bool replace = true);

// The same for a descriptor the caller already opened, written in place.
int outputOpenDescriptor(OutputFile* out, int fd, const struct stat* input);

// Flushes and closes the output and, for a temporary file, syncs it, renames it over the
// target and syncs the folder, so that the new name lasts. Returns kStatusFinished,
// kStatusWrite (with out->problem) or kStatusOutputExists; on failure nothing is left. With
// `folder`, the folder is not synced but its descriptor handed over (or -1), so that a batch syncs
// each folder once.
int outputCommit(OutputFile* out, int* folder = nullptr);

// Closes the output and removes the temporary file.
void outputDiscard(OutputFile* out);

}  // namespace kestrune::detail
