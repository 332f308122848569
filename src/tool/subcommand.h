// A subcommand of kestrune-adpcm, and the table of them. Each subcommand is one class in
// its own file, and one row of the table in subcommands.cpp: main.cpp adds every row's
// subcommand to the command line, runs the one that was parsed, and knows none by name.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <span>

namespace kestrune::tool {

class Subcommand {
public:
    virtual ~Subcommand() = default;
    // Adds the options and arguments, and the help's footer, to the subcommand's app.
    virtual void define(CLI::App& app) = 0;
    // Runs once the command line is parsed; the exit status. Throws UsageError.
    virtual int run(CLI::App& app) = 0;
};

struct SubcommandRow {
    const char* name;
    const char* summary;  // one line, for the tool's help
    std::unique_ptr<Subcommand> (*make)();
};

// In the order the tool's help lists them.
std::span<const SubcommandRow> subcommands();

}  // namespace kestrune::tool
