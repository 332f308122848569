// Opening the input, and writing the output so that it appears complete or not at all.
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

#include <cstdio>
#include <string>

// Opens path for binary reading. Returns kStatusFinished, or kStatusInputOpen when it
// cannot be opened or is a directory.
int inputOpen(const char* path, FILE** fp);

struct OutputFile {
    FILE* fp = nullptr;
    bool canSeek = false;   // the header may be rewritten after the payload
    bool isStdout = false;  // written in place onto this process's standard output
    int folder = -1;        // the target's folder when written through a temporary file
    int slot = -1;          // the temporary file's entry among those a signal removes
    std::string name;       // the target's name in its folder
    std::string temp;       // the temporary file's name in the same folder
};

// Creates the output for path. Fails with kStatusOutputOpen when it cannot be created or
// written, when it is a link that leads nowhere it could be written, or when it is the
// input itself (`input`, when given: the same file, or the same device).
int outputOpen(OutputFile* out, const char* path, const struct stat* input);

// The same for a descriptor the caller already opened, written in place.
int outputOpenDescriptor(OutputFile* out, int fd, const struct stat* input);

// Flushes and closes the output and, for a temporary file, syncs it, renames it over the
// target and syncs the folder, so that the new name lasts. Returns kStatusFinished or
// kStatusWrite; on failure nothing is left behind. With `folder`, the folder is not
// synced but its descriptor handed over (or -1), so that a batch syncs each folder once.
int outputCommit(OutputFile* out, int* folder = nullptr);

// Closes the output and removes the temporary file.
void outputDiscard(OutputFile* out);
