// kestrune-adpcm: from any recording to the device's file, one file or a thousand, and
// back to WAV; what a device file holds; and a set of prompts packed for the firmware.
//
//   kestrune-adpcm encode [options] INPUT...
//   kestrune-adpcm decode [options] INPUT...
//   kestrune-adpcm info [--json] FILE...
//   kestrune-adpcm pack -o IMAGE [options] INPUT...
//   kestrune-adpcm report REPORT.html [options] FILE...
//   kestrune-adpcm unpack IMAGE -d DIR
//   kestrune-adpcm build MANIFEST -d OUT [options]
//
// Errors go to standard error as "kestrune-adpcm: PATH: reason"; standard output carries
// only data (-o -) or what --json asks for. Exit status 0 when every file succeeded, 1
// when any failed, 2 for a usage error. This file wires the command line; each subcommand
// is a row of the table in subcommands.cpp, and runs from its own file.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>

#include "kestrune/kestrune.hpp"
#include "tool/options.h"
#include "tool/paths.h"
#include "tool/report.h"
#include "tool/subcommand.h"

using namespace kestrune::tool;

int main(int argc, char** argv) {
    reserveStandardStreams();
    CLI::App app{"Converts recordings into the voice-playback device's ADPCM files and back.",
                 kTool};
    app.formatter(std::make_shared<Formatter>());
    app.set_version_flag("--version", std::string(kTool) + " " + kestrune::version());
    app.require_subcommand(1);
    std::vector<std::pair<CLI::App*, std::unique_ptr<Subcommand>>> commands;
    for (const SubcommandRow& row : subcommands()) {
        CLI::App* sub = app.add_subcommand(row.name, row.summary);
        commands.emplace_back(sub, row.make());
        commands.back().second->define(*sub);
    }

    int status = 0;
    try {
        app.parse(normalizedArguments(argc, argv, app));
        // require_subcommand(1): exactly one was parsed.
        const auto parsed = std::find_if(commands.begin(), commands.end(),
                                         [](const auto& c) { return c.first->parsed(); });
        if (parsed == commands.end()) throw UsageError{"no command given"};
        status = parsed->second->run(*parsed->first);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // The help that lists the subcommand's options, and the nearest of them to one
        // it does not have.
        const bool command = argc > 1 && argv[1][0] != '-';
        const std::string near =
            command ? nearestOption(*app.get_subcommand(argv[1]), argc, argv) : "";
        // The arguments it names are quoted as paths are, should they hold control
        // characters, so that the error stays one line.
        std::fprintf(messages(), "%s: %s%s; see '%s%s%s --help'\n", kTool, quoted(e.what()).c_str(),
                     near.empty() ? "" : (" (did you mean '" + near + "'?)").c_str(), kTool,
                     command ? " " : "", command ? argv[1] : "");
        return 2;
    } catch (const UsageError& e) {
        std::fprintf(messages(), "%s: %s\n", kTool, quoted(e.what()).c_str());
        return 2;
    }
    return finishStandardOutput(status);
}
