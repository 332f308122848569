// kestrune-adpcm: from any recording to the device's file, one file or a thousand, and
// back to WAV; what a device file holds; and a set of prompts packed for the firmware.
//
//   kestrune-adpcm encode [options] INPUT...
//   kestrune-adpcm decode [options] INPUT...
//   kestrune-adpcm info [--json] FILE...
//   kestrune-adpcm pack -o IMAGE [options] INPUT...
//   kestrune-adpcm build MANIFEST -d OUT [options]
//   kestrune-adpcm report REPORT.html [options] FILE...
//   kestrune-adpcm unpack IMAGE -d DIR
//
// Errors go to standard error as "kestrune-adpcm: PATH: reason"; standard output carries
// only data (-o -) or what --json asks for. Exit status 0 when every file succeeded, 1
// when any failed, 2 for a usage error. This file wires the command line; the commands
// are in commands.cpp and packCommand.cpp.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "kestrune/kestrune.hpp"
#include "tool/buildCommand.h"
#include "tool/commands.h"
#include "tool/completions.h"
#include "tool/options.h"
#include "tool/paths.h"
#include "tool/report.h"

int main(int argc, char** argv) {
    reserveStandardStreams();
    CLI::App app{"Converts recordings into the voice-playback device's ADPCM files and back.",
                 kTool};
    app.formatter(std::make_shared<Formatter>());
    app.set_version_flag("--version", std::string(kTool) + " " + kestrune::version());
    app.require_subcommand(1);

    Common encodeCommon;
    EncodeOptions encodeOptions;
    CLI::App* encode =
        app.add_subcommand("encode", "Recordings of any common format to device files");
    addCommon(encode, &encodeCommon, "Recordings to convert (- for standard input)");
    encodeOptions.add(encode, true);
    std::string encodeReport;
    encode->add_option("--report", encodeReport, "Also write a listening report (HTML) there");
    encode->footer(
        "Example: kestrune-adpcm encode --loudness -23 --trim -r 16000 -d adp rec/*.wav");

    Common reportCommon;
    std::string reportPath, reportSources;
    CLI::App* report =
        app.add_subcommand("report", "A listening report (HTML) of device files and sources");
    report->add_option("REPORT", reportPath, "The report to write (.html)")->required();
    report->add_option("FILE", reportCommon.inputs, "Device files")->required();
    report->add_option("--sources", reportSources,
                       "Lines of DEVICE<tab>SOURCE (default: the audio file beside each)");
    report->add_option("-j,--jobs", reportCommon.jobs, "Files read at once (default: the cores)")
        ->check(CLI::Range(1u, 1024u));
    report->add_flag("-f,--force", reportCommon.force, "Replace the report if it exists");
    report->add_flag("--quiet", reportCommon.quiet,
                     "No summary lines or progress; warnings only counted");
    EncodeOptions reportOptions;
    reportOptions.addShaping(report);
    report->footer("Example: kestrune-adpcm report --loudness -23 --trim report.html adp/*.adp");

    Common decodeCommon;
    CLI::App* decode = app.add_subcommand("decode", "Device files to mono 16-bit WAV");
    addCommon(decode, &decodeCommon, "Device files to convert (- for standard input)");
    decode->footer("Example: kestrune-adpcm decode -o - prompt.adp | play -");

    Common packCommon;
    PackArgs packArgs;
    EncodeOptions packOptions;
    CLI::App* pack = app.add_subcommand("pack", "Prompts into one image for the firmware");
    pack->add_option("INPUT", packCommon.inputs, "Recordings or device files");
    pack->add_option("-o,--output", packCommon.output, "The image")->required();
    pack->add_option("--header", packArgs.header, "A C header with the prompt IDs");
    pack->add_option("--list", packArgs.list, "The prompts in ID order, one a line");
    pack->add_option("--prefix", packArgs.prefix, "The header's prefix (default: its name)");
    pack->add_option("--align", packArgs.align, "Alignment of each prompt (default 4)")
        ->check(
            CLI::IsMember({1u, 2u, 4u, 8u, 16u, 32u, 64u, 128u, 256u, 512u, 1024u, 2048u, 4096u}));
    pack->add_option("-j,--jobs", packCommon.jobs, "Files encoded at once (default: the cores)")
        ->check(CLI::Range(1u, 1024u));
    pack->add_flag("-f,--force", packCommon.force, "Replace the image and header if they exist");
    pack->add_flag("--quiet", packCommon.quiet,
                   "No summary lines or progress; warnings only counted");
    pack->add_flag("--json", packCommon.json, "Print the manifest as JSON on standard output");
    packOptions.add(pack, false);
    pack->footer("Example: kestrune-adpcm pack -r 16000 -o voice.bin --header voice.h rec/*.wav");

    Common unpackCommon;
    CLI::App* unpack =
        app.add_subcommand("unpack", "An image's device files back into a folder, as NAME-ID.adp");
    unpack->add_option("IMAGE", unpackCommon.inputs, "The image")->required();
    unpack->add_option("-d,--directory", unpackCommon.folder, "The folder")->required();
    unpack->add_flag("-f,--force", unpackCommon.force, "Replace files that exist");
    unpack->add_flag("--quiet", unpackCommon.quiet, "No summary lines");
    unpack->footer("Example: kestrune-adpcm unpack voice.bin -d prompts");

    std::vector<std::string> infoFiles;
    bool infoJson = false;
    CLI::App* info = app.add_subcommand("info", "What device files hold");
    info->add_option("FILE", infoFiles, "Device files (- for standard input)")->required();
    info->add_flag("--json", infoJson, "Print a JSON array on standard output");
    info->footer("Example: kestrune-adpcm info --json prompt.adp voice.bin");

    const std::shared_ptr<BuildCli> build = addBuild(app);

    // The shell completions, made from the definitions above; hidden from the help.
    std::string shell;
    CLI::App* completions = app.add_subcommand("completions", "A shell completion script");
    completions->group("");
    completions->add_option("SHELL", shell, "bash or zsh")
        ->required()
        ->check(CLI::IsMember({"bash", "zsh"}));

    int status = 0;
    try {
        std::vector<std::string> args = normalizedArguments(
            argc, argv,
            {"encode", "decode", "info", "pack", "build", "report", "unpack", "completions"});
        app.parse(args);
        if (encode->parsed()) {
            encodeOptions.finish(*encode);
            EncodeSettings& settings = encodeOptions.settings;
            // Measured only where shown.
            settings.measure = !encodeCommon.quiet || encodeCommon.json || !encodeReport.empty();
            status = runEncode(*encode, encodeCommon, settings, encodeReport);
        } else if (report->parsed()) {
            reportOptions.finish(*report);
            status = runReport(reportCommon, reportPath, reportSources, reportOptions.settings);
        } else if (pack->parsed()) {
            packOptions.finish(*pack);
            status = runPack(*pack, packCommon, packArgs, packOptions.settings);
        } else if (build->app->parsed()) {
            status = runBuild(*build);
        } else if (unpack->parsed()) {
            status = runUnpack(unpackCommon);
        } else if (decode->parsed()) {
            status = runDecode(*decode, decodeCommon);
        } else if (completions->parsed()) {
            std::fputs(completionScript(app, shell).c_str(), stdout);
        } else {
            status = runInfo(infoFiles, infoJson);
        }
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
        std::fprintf(messages(), "%s: %s\n", kTool, quoted(e.message).c_str());
        return 2;
    }
    return finishStandardOutput(status);
}
