// kestrune-adpcm: from any recording to the device's file, one file or a thousand, and
// back to WAV; and what a device file holds.
//
//   kestrune-adpcm encode [options] INPUT...
//   kestrune-adpcm decode [options] INPUT...
//   kestrune-adpcm info [--json] FILE...
//
// Errors go to standard error as "kestrune-adpcm: PATH: reason"; standard output carries
// only data (-o -) or what --json asks for. Exit status 0 when every file succeeded, 1
// when any failed, 2 for a usage error.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "adpFile.h"
#include "codec/search.h"
#include "outputFile.h"
#include "tool/batch.h"
#include "tool/jobs.h"
#include "tool/report.h"

namespace {

struct UsageError {
    std::string message;
};

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The input's name without its extension.
std::string stemOf(const std::string& path) {
    const std::string name = path == "-" ? "stdin" : nameOf(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Where each input's output goes: -o, DIR/NAME.ext with -d, else NAME.ext beside it.
std::vector<std::string> planOutputs(const std::vector<std::string>& inputs,
                                     const std::string& output, const std::string& folder,
                                     const char* extension) {
    if (!output.empty() && inputs.size() != 1) throw UsageError{"-o takes a single input; use -d"};
    if (std::count(inputs.begin(), inputs.end(), "-") > 1) {
        throw UsageError{"standard input can be read only once"};
    }
    std::vector<std::string> outputs;
    for (const std::string& in : inputs) {
        if (!output.empty()) {
            outputs.push_back(output);
        } else if (!folder.empty()) {
            outputs.push_back(folder + (folder.back() == '/' ? "" : "/") + stemOf(in) + extension);
        } else if (in == "-") {
            throw UsageError{"standard input needs -o or -d"};
        } else {
            outputs.push_back(folderOf(in) + stemOf(in) + extension);
        }
    }
    return outputs;
}

// Outputs that two inputs would both write: the second fails. Paths are compared by what
// they name (the folder's identity and the name, links followed), not by their text.
std::vector<std::string> clashes(const std::vector<std::string>& inputs,
                                 const std::vector<std::string>& outputs) {
    std::map<OutputIdentity, std::size_t> claimed;
    std::vector<std::string> clash(inputs.size());
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (outputs[i] == "-") continue;
        OutputIdentity id;
        if (!outputIdentity(outputs[i].c_str(), &id)) id = OutputIdentity{0, 0, outputs[i]};
        const auto [at, fresh] = claimed.emplace(id, i);
        if (!fresh) clash[i] = "same output as " + inputs[at->second] + " (" + outputs[i] + ")";
    }
    return clash;
}

struct Common {
    std::vector<std::string> inputs;
    std::string output, folder;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    bool quiet = false, json = false, force = false;
};

void addCommon(CLI::App* app, Common* c, const char* inputHelp) {
    app->add_option("INPUT", c->inputs, inputHelp)->required();
    auto* o = app->add_option("-o,--output", c->output, "Output file (- for standard output)");
    app->add_option("-d,--directory", c->folder, "Folder for the outputs (NAME.ext each)")
        ->excludes(o);
    app->add_option("-j,--jobs", c->jobs, "Files converted at once (default: the cores)")
        ->check(CLI::Range(1u, 1024u));
    app->add_flag("-f,--force", c->force, "Replace outputs that exist");
    app->add_flag("--quiet", c->quiet, "No summary lines, warnings or progress");
    app->add_flag("--json", c->json, "Print a JSON array of the results on standard output");
}

// Checks what encode and decode share, before any work.
void checkCommon(const CLI::App& app, const Common& c) {
    if (app.count("--output") > 0 && c.output.empty()) throw UsageError{"-o needs a file name"};
    if (app.count("--directory") > 0 && c.folder.empty()) {
        throw UsageError{"-d needs a folder name"};
    }
    if (c.json && c.output == "-") throw UsageError{"--json and -o - both want standard output"};
}

// Refuses to wait for standard input typed at a terminal.
void checkStandardInput(const std::vector<std::string>& inputs) {
    if (std::count(inputs.begin(), inputs.end(), "-") > 0 && isatty(STDIN_FILENO)) {
        throw UsageError{"standard input is a terminal (pipe a file in, or name it)"};
    }
}

// The folder for -d, made with the folders it is in when missing. Those it made are
// removed again, when empty, by `undo`.
struct MadeFolders {
    std::vector<std::filesystem::path> made;  // outermost first
    void make(const std::string& folder) {
        std::filesystem::path at;
        for (const auto& part : std::filesystem::path(folder)) {
            at /= part;
            std::error_code e;  // a folder that cannot be made fails each file's output
            if (std::filesystem::create_directory(at, e)) made.push_back(at);
        }
    }
    void undo() {
        std::error_code ignored;
        for (auto it = made.rbegin(); it != made.rend(); ++it)
            std::filesystem::remove(*it, ignored);
    }
};

// Runs a batch and reports as the results come: failures always, warnings and summaries
// unless quiet, a progress line when standard error is a terminal.
std::vector<FileResult> runBatch(const Common& c, Progress* progress,
                                 const std::function<FileResult(std::size_t)>& work,
                                 const std::function<void(const FileResult&)>& summary) {
    const BatchSize size = fitBatch(c.jobs);
    if (size.jobs < c.jobs && c.inputs.size() > size.jobs && !c.quiet) {
        std::fprintf(messages(), "%s: -j %u lowered to %u: at most %zu files may be open at once\n",
                     kTool, c.jobs, size.jobs, size.openLimit);
    }
    const bool showProgress = !c.quiet && isatty(fileno(messages()));
    silenceLibraries();
    return runAll(
        c.inputs.size(), size,
        [&](std::size_t i) {
            ++progress->filesStarted;
            FileResult r = work(i);
            ++progress->filesDone;
            return r;
        },
        [&](const FileResult& r) {
            if (!r.ok) return printFailure(r);
            if (c.quiet) return;
            printWarnings(r);
            summary(r);
        },
        showProgress ? progressRenderer(*progress, c.inputs.size()) : nullptr, messages());
}

std::string displayName(const std::string& output) {
    return output == "-" ? "standard output" : output;
}

int runEncode(const CLI::App& app, const Common& c, EncodeSettings settings) {
    checkCommon(app, c);
    checkStandardInput(c.inputs);
    std::vector<std::string> outputs = planOutputs(c.inputs, c.output, c.folder, ".adp");
    MadeFolders folders;
    folders.make(c.folder);
    const std::vector<std::string> clash = clashes(c.inputs, outputs);
    settings.replace = c.force;
    Progress progress;
    const auto results = runBatch(
        c, &progress,
        [&](std::size_t i) {
            if (clash[i].empty()) return encodeFile(settings, c.inputs[i], outputs[i], &progress);
            FileResult r;
            r.input = c.inputs[i];
            r.error = clash[i];
            return r;
        },
        [&](const FileResult& r) {
            std::fprintf(messages(),
                         "%s -> %s: %u Hz, %d-bit, %.2f s, %llu bytes, SNR %s, segSNR %s, %llu "
                         "clipped\n",
                         r.input.c_str(), displayName(r.output).c_str(), r.rate, r.bits,
                         r.seconds(), static_cast<unsigned long long>(r.bytes),
                         decibels(r.snrDb).c_str(), decibels(r.segSnrDb).c_str(),
                         static_cast<unsigned long long>(r.clipped));
        });
    if (exitStatus(results) != 0 &&
        std::none_of(results.begin(), results.end(), [](const FileResult& r) { return r.ok; })) {
        folders.undo();
    }
    if (c.json) {
        std::vector<Json> objects;
        for (const FileResult& r : results) {
            Json o = conversionJson(r, settings.bits);
            o["snr_db"] = rounded(r.snrDb, 2);
            o["segsnr_db"] = rounded(r.segSnrDb, 2);
            o["clipped"] = r.clipped;
            o["nonfinite"] = r.nonFinite;
            objects.push_back(std::move(o));
        }
        printJson(objects);
    }
    return exitStatus(results);
}

int runDecode(const CLI::App& app, const Common& c) {
    checkCommon(app, c);
    checkStandardInput(c.inputs);
    const std::vector<std::string> outputs = planOutputs(c.inputs, c.output, c.folder, ".wav");
    MadeFolders folders;
    folders.make(c.folder);
    const std::vector<std::string> clash = clashes(c.inputs, outputs);
    Progress progress;
    const auto results = runBatch(
        c, &progress,
        [&](std::size_t i) {
            if (clash[i].empty()) return decodeFile(c.inputs[i], outputs[i], c.force, &progress);
            FileResult r;
            r.input = c.inputs[i];
            r.error = clash[i];
            return r;
        },
        [&](const FileResult& r) {
            std::fprintf(messages(), "%s -> %s: %u Hz, %d-bit, %.2f s, %llu samples\n",
                         r.input.c_str(), displayName(r.output).c_str(), r.rate, r.bits,
                         r.seconds(), static_cast<unsigned long long>(r.samples));
        });
    if (std::none_of(results.begin(), results.end(), [](const FileResult& r) { return r.ok; })) {
        folders.undo();
    }
    if (c.json) {
        std::vector<Json> objects;
        for (const FileResult& r : results) objects.push_back(conversionJson(r, r.bits));
        printJson(objects);
    }
    return exitStatus(results);
}

int runInfo(const std::vector<std::string>& files, bool json) {
    checkStandardInput(files);
    std::vector<FileResult> results;
    for (const std::string& f : files) results.push_back(inspectFile(f));
    if (json) {
        std::vector<Json> objects;
        for (const FileResult& r : results) {
            const auto known = [&](Json v) { return r.ok ? v : Json(nullptr); };
            objects.push_back(Json{{"path", r.input},
                                   {"ok", r.ok},
                                   {"error", r.ok ? Json(nullptr) : Json(r.error)},
                                   {"bits", known(r.bits)},
                                   {"rate", known(r.rate)},
                                   {"bytes", known(r.bytes)},
                                   {"samples", known(r.samples)},
                                   {"seconds", known(rounded(r.seconds(), 3))},
                                   {"warnings", r.warnings}});
        }
        printJson(objects);
    }
    std::string lines;
    for (const FileResult& r : results) {
        if (!r.ok) {
            printFailure(r);
        } else if (!json) {
            char line[128];
            std::snprintf(line, sizeof line, ": %d-bit, %u Hz, %llu bytes, %llu samples, %.3f s\n",
                          r.bits, r.rate, static_cast<unsigned long long>(r.bytes),
                          static_cast<unsigned long long>(r.samples), r.seconds());
            lines += r.input + line;
        }
    }
    writeStandardOutput(lines);
    return exitStatus(results);
}

// A decibel value: a finite number within [low, high].
CLI::Validator decibelRange(double low, double high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            char* end = nullptr;
            const double v = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !std::isfinite(v) || v < low || v > high) {
                char range[64];
                std::snprintf(range, sizeof range, "%g to %g", low, high);
                return "'" + text + "' is not a level in dB from " + range;
            }
            return "";
        },
        "DB");
}

CLI::Validator deviceRate() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            for (const uint32_t rate : kAcceptedRates) {
                if (text == std::to_string(rate)) return "";
            }
            return "'" + text +
                   "' is not a rate the device plays: 4000, 5300, 6400, 8000, 10600, 12800, "
                   "16000 or 32000 (Hz)";
        },
        "HZ");
}

bool isNumber(const char* text) {
    char* end = nullptr;
    std::strtod(text, &end);
    return end != text && *end == '\0';
}

// The arguments as CLI11 is to see them, last first. "--normalize -3" means the level -3,
// not a file named -3, and "--normalize x.wav" the default level and a file: a number
// after the option is its value, anything else is not. A first argument that is no
// command is refused with the nearest command's name.
std::vector<std::string> normalizedArguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = argc - 1; i > 0; --i) {
        if (std::strcmp(argv[i], "--normalize") == 0) {
            const bool level = i + 1 < argc && isNumber(argv[i + 1]);
            if (level) args.pop_back();
            args.push_back(std::string("--normalize=") + (level ? argv[i + 1] : "-1"));
        } else {
            args.push_back(argv[i]);
        }
    }
    if (argc > 1 && argv[1][0] != '-') {
        static const char* const kCommands[] = {"encode", "decode", "info"};
        const std::string given = argv[1];
        std::string near;
        for (const char* command : kCommands) {
            if (given == command) return args;
            // One letter dropped, added, changed or swapped, or a prefix.
            const std::string c = command;
            const std::size_t common = static_cast<std::size_t>(
                std::mismatch(given.begin(), given.end(), c.begin(), c.end()).first -
                given.begin());
            const std::size_t tail = static_cast<std::size_t>(
                std::mismatch(given.rbegin(), given.rend(), c.rbegin(), c.rend()).first -
                given.rbegin());
            if (common + tail + 2 >= std::max(given.size(), c.size()) || c.starts_with(given)) {
                near = c;
            }
        }
        throw UsageError{"unknown command '" + given + "'" +
                         (near.empty() ? "" : " (did you mean '" + near + "'?)") +
                         "; the commands are encode, decode and info"};
    }
    return args;
}

// Help that shows an option whose value is optional as it is written: --normalize[=DBFS].
class Formatter : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* opt) const override {
        if (opt->get_expected_min() == 0 && !opt->get_option_text().empty()) {
            return opt->get_option_text();
        }
        return CLI::Formatter::make_option_opts(opt);
    }
};

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Converts recordings into the voice-playback device's ADPCM files and back.",
                 kTool};
    app.formatter(std::make_shared<Formatter>());
    app.set_version_flag("--version", std::string(kTool) + " " + KESTRUNE_VERSION);
    app.require_subcommand(1);

    Common encodeCommon;
    EncodeSettings settings;
    settings.level = kDefaultSearchLevel;
    std::string normalize;
    CLI::App* encode =
        app.add_subcommand("encode", "Recordings of any common format to device files");
    addCommon(encode, &encodeCommon, "Recordings to convert (- for standard input)");
    encode->add_option("-r,--rate", settings.rate, "Device rate in Hz (default: see README)")
        ->check(deviceRate());
    encode->add_option("-b,--bits", settings.bits, "Code width: 4 or 2 (default 4)")
        ->check(CLI::IsMember({4, 2}));
    encode
        ->add_option("-q,--quality", settings.level,
                     "Search level 0-9; 0 is the reference quantiser (default " +
                         std::to_string(kDefaultSearchLevel) + ")")
        ->check(CLI::Range(0, kSearchLevels - 1));
    encode
        ->add_option("--channel", settings.audio.channel,
                     "Take channel N (1 = first) instead of the mix")
        ->check(CLI::Range(1, 1 << 16));
    auto* gain = encode->add_option("--gain", settings.audio.gainDb, "Scale by DB first")
                     ->check(decibelRange(-200, 200));
    encode
        ->add_option("--normalize", normalize,
                     "Scale the peak to DBFS instead (default -1; --normalize=-3 or --normalize "
                     "-3)")
        ->expected(0, 1)
        ->option_text("[=DBFS]")
        ->check(decibelRange(-200, 0))
        ->excludes(gain);

    Common decodeCommon;
    CLI::App* decode = app.add_subcommand("decode", "Device files to mono 16-bit WAV");
    addCommon(decode, &decodeCommon, "Device files to convert (- for standard input)");

    std::vector<std::string> infoFiles;
    bool infoJson = false;
    CLI::App* info = app.add_subcommand("info", "What device files hold");
    info->add_option("FILE", infoFiles, "Device files (- for standard input)")->required();
    info->add_flag("--json", infoJson, "Print a JSON array on standard output");

    int status = 0;
    try {
        std::vector<std::string> args = normalizedArguments(argc, argv);
        app.parse(args);
        if (encode->parsed()) {
            if (encode->count("--normalize") > 0) {
                settings.audio.normalizeDbfs = std::stod(normalize);
            }
            settings.measure = !encodeCommon.quiet || encodeCommon.json;  // shown only then
            status = runEncode(*encode, encodeCommon, settings);
        } else if (decode->parsed()) {
            status = runDecode(*decode, decodeCommon);
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
        std::fprintf(messages(), "%s: %s (see %s --help)\n", kTool, e.what(), kTool);
        return 2;
    } catch (const UsageError& e) {
        std::fprintf(messages(), "%s: %s\n", kTool, e.message.c_str());
        return 2;
    }
    return finishStandardOutput(status);
}
