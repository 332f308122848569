// Opening the input, and writing the output so that it appears complete or not at all.
//
// A regular output (or a new one) is written to a temporary file in the same folder,
// which is flushed, synced and renamed over the target only once everything is written;
// a failed run removes it and leaves an existing target untouched. An output that is
// not a regular file (a device, a pipe) is written in place.
#pragma once

#include <cstdio>
#include <string>

// Opens path for binary reading. Returns kStatusFinished, or kStatusInputOpen when it
// cannot be opened or is a directory.
int inputOpen(const char* path, FILE** fp);

struct OutputFile {
    FILE* fp;
    bool canSeek;
    std::string target;  // the file that appears on commit; empty when written in place
    std::string temp;
};

// Creates the output for path. It fails with kStatusOutputOpen when the file cannot be
// created or written, or when it is the input file itself (same device and inode,
// through any path or link).
int outputOpen(OutputFile* out, const char* path, FILE* input);

// Flushes and closes the output and, for a temporary file, syncs it and renames it over
// the target. Returns kStatusFinished or kStatusWrite; on failure nothing is left behind.
int outputCommit(OutputFile* out);

// Closes the output and removes the temporary file.
void outputDiscard(OutputFile* out);
