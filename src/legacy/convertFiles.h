// The run both tools share: open the input, create the output, convert, and let the
// output appear only when the conversion succeeded.
#pragma once

#include <cstdio>
#include <functional>

#include "io/failure.h"
#include "io/outputFile.h"

namespace kestrune::detail {

// Converts from `from` onto the output `to` (its stream, and whether that may seek back).
using ConvertFn = std::function<Done(FILE* from, const OutputFile& to)>;

// Opens inPath, then creates outPath (before the input is read, so an output that cannot
// be created is reported first), runs convert and commits or discards the output.
// Returns the run's status; *outputIsStdout tells whether the output went to this
// process's standard output, where the status line must then not go.
int convertFiles(const char* inPath, const char* outPath, const ConvertFn& convert,
                 bool* outputIsStdout);

// Prints the run's outcome: the status line, or the usage lines of a usage error, on
// standard output, or on standard error when the data went to standard output.
void printOutcome(int status, const char* usage, bool outputIsStdout);

}  // namespace kestrune::detail
