// The command line's pieces that more than one subcommand uses: the encode options (which
// pack takes too), value checks, the arguments as CLI11 is to see them, and the help's
// formatting.
#pragma once

#include <CLI/CLI.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "tool/jobs.h"

namespace kestrune::tool {

// A command line the tool cannot run: told as "kestrune-adpcm: what", exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Every option that shapes an encoding, wired to one EncodeSettings.
struct EncodeOptions {
    EncodeSettings settings;
    std::string format = "adp", tune = "perceptual";
    double normalize = 0, trim = 0, loudness = 0, speechLevel = 0, peak = 0;  // when given
    ContainerOptions c;

    void add(CLI::App* app, bool formats);
    // Only the options that shape the source (channel, gain, levelling, trimming): a
    // listening report prepares each source with them as encode did.
    void addShaping(CLI::App* app);
    // Completes the settings from what was parsed; throws UsageError.
    void finish(const CLI::App& app);
};

// The arguments, last first (as CLI11 takes them). The value of an option whose value may
// be left out (--normalize, --trim) is joined to it when it looks like a number ("-3",
// which CLI11 would take for an option), and the option's default when not (so that no
// input is taken for it). A first argument that is none of app's commands is refused,
// naming the nearest one.
std::vector<std::string> normalizedArguments(int argc, char** argv, const CLI::App& app);

// The name among `names` nearest to a mistyped one (a letter dropped, added, changed or
// swapped, or a prefix), or empty when none is near.
std::string nearestName(const std::string& given, const std::vector<std::string>& names);

// For the first of the arguments (after the subcommand's name) that is a long option the
// subcommand does not have, the nearest it has; empty when there is none.
std::string nearestOption(const CLI::App& command, int argc, char** argv);

// Help that shows an option whose value is optional as written: --normalize[=DBFS], and
// fits 100 columns.
class Formatter : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* opt) const override;
    std::string make_option_desc(const CLI::Option* opt) const override;
};

}  // namespace kestrune::tool
