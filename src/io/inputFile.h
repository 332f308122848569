// Opening an input: a path, or standard input for "-", refused when it cannot be opened or
// is a folder.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "io/failure.h"

namespace kestrune::detail {

// Opens path for binary reading. Returns kStatusFinished, or kStatusInputOpen when it
// cannot be opened or is a directory.
int inputOpen(const char* path, FILE** fp);

// Whether an input can be read, from its stat (`statResult` as stat returned, errno set by
// it): fails with kStatusInputOpen when it cannot be opened ("cannot open: ...") or is a
// folder ("is a folder").
Done inputCheck(int statResult, const struct stat& st);

// An input stream, standard input for "-", with its stat; closes what it opened.
struct InputFile {
    FILE* fp = nullptr;
    struct stat st {};
    Done opened;  // or why it cannot be read
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
};

// A copy of everything fd reads, in an unnamed file in $TMPDIR (default /tmp) that is gone
// once closed, positioned at its start: what is not a regular file (a pipe, a terminal, a
// device) is read once this way. Fails with kStatusWrite ("cannot hold the input: ...") or
// kStatusRead ("cannot read: ...").
Outcome<int> inputHeldCopy(int fd);

}  // namespace kestrune::detail
