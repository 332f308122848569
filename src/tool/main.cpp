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
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "adpFile.h"
#include "codec/search.h"
#include "messages.h"
#include "outputFile.h"
#include "tool/batch.h"
#include "tool/cSource.h"
#include "tool/jobs.h"
#include "tool/options.h"
#include "tool/pack.h"
#include "tool/report.h"

namespace {

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

// "loudness -31.2 -> -23.0 LUFS, gain +8.2 dB, 12 samples limited, trimmed 310 + 245 ms"
std::string levellingSummary(const FileResult& r) {
    char text[160] = "";
    std::string line;
    const auto lufs = [](std::optional<double> v) {
        char n[32] = "n/a";
        if (v) std::snprintf(n, sizeof n, "%.1f", *v);
        return std::string(n);
    };
    if (r.gainDb) {
        std::snprintf(text, sizeof text, "loudness %s -> %s LUFS, gain %+.1f dB",
                      lufs(r.loudnessIn).c_str(), lufs(r.loudnessOut).c_str(), *r.gainDb);
        line = text;
    }
    if (r.limited)
        line += (line.empty() ? "" : ", ") + std::to_string(*r.limited) + " samples limited";
    if (r.trimStartMs && r.trimEndMs) {
        std::snprintf(text, sizeof text, "trimmed %.0f + %.0f ms", *r.trimStartMs, *r.trimEndMs);
        line += (line.empty() ? "" : ", ") + std::string(text);
    }
    return line;
}

int runEncode(const CLI::App& app, const Common& c, EncodeSettings settings) {
    checkCommon(app, c);
    checkStandardInput(c.inputs);
    std::vector<std::string> outputs =
        planOutputs(c.inputs, c.output, c.folder, settings.c ? ".h" : ".adp");
    MadeFolders folders;
    folders.make(c.folder);
    std::vector<std::string> clash = clashes(c.inputs, outputs);
    // C names from the outputs' names, each (and its _length) once in a set of prompts.
    std::vector<std::string> symbols(outputs.size());
    std::map<std::string, std::size_t> named;
    for (std::size_t i = 0; settings.c && i < outputs.size(); ++i) {
        symbols[i] = cIdentifier(stemOf(outputs[i] == "-" ? c.inputs[i] : outputs[i]));
        for (const std::string& name : {symbols[i], symbols[i] + "_length"}) {
            const auto [at, fresh] = named.emplace(name, i);
            if (!fresh && at->second != i && clash[i].empty()) {
                clash[i] = "its C name '" + name + "' is also " + c.inputs[at->second] + "'s";
            }
        }
    }
    settings.replace = c.force;
    Progress progress;
    const auto results = runBatch(
        c, &progress,
        [&](std::size_t i) {
            if (clash[i].empty()) {
                return encodeFile(settings, c.inputs[i], outputs[i], &progress, symbols[i]);
            }
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
            if (r.gainDb || r.limited || r.trimStartMs) {
                std::fprintf(messages(), "  %s\n", levellingSummary(r).c_str());
            }
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
            o["loudness_in"] = rounded(r.loudnessIn, 2);
            o["loudness_out"] = rounded(r.loudnessOut, 2);
            o["gain_db"] = rounded(r.gainDb, 2);
            o["limited"] = r.limited ? Json(*r.limited) : Json(nullptr);
            o["trim_start_ms"] = rounded(r.trimStartMs, 1);
            o["trim_end_ms"] = rounded(r.trimEndMs, 1);
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

struct PackArgs {
    std::string header, list;
    unsigned align = 4;
};

// The prompts to pack, in ID order: a list file's order (one path a line, relative to
// the list's folder; blank lines and # comments skipped), or sorted by name.
std::vector<PackedPrompt> packOrder(const Common& c, const PackArgs& p) {
    std::vector<PackedPrompt> prompts;
    if (!p.list.empty()) {
        std::ifstream list(p.list);
        if (!list) throw UsageError{p.list + ": cannot open: " + std::strerror(errno)};
        const std::string folder =
            p.list.find('/') == std::string::npos ? "" : p.list.substr(0, p.list.rfind('/') + 1);
        for (std::string line; std::getline(list, line);) {
            line.erase(0, line.find_first_not_of(" \t"));
            line.erase(line.find_last_not_of(" \t\r") + 1);
            if (line.empty() || line[0] == '#') continue;
            const std::string path = line[0] == '/' ? line : folder + line;
            prompts.push_back({promptName(path), path, {}, 0});
        }
    }
    for (const std::string& in : c.inputs) prompts.push_back({promptName(in), in, {}, 0});
    if (p.list.empty()) {
        std::stable_sort(prompts.begin(), prompts.end(),
                         [](const auto& a, const auto& b) { return a.name < b.name; });
    }
    return prompts;
}

// The device file at path, whole, when it is one; empty when it is not.
std::vector<uint8_t> deviceFileAt(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    AdpInfo info{};
    if (bytes.size() < kAdpHeaderSize || adpHeaderProblem(bytes.data(), &info) != nullptr ||
        bytes.size() - kAdpHeaderSize < info.payloadLength) {
        return {};
    }
    bytes.resize(kAdpHeaderSize + info.payloadLength);
    return bytes;
}

// Writes bytes to a new output through the safe output; false, with a line, on failure.
bool writeWhole(const std::string& path, const std::string& bytes, bool replace) {
    OutputFile out;
    int status = outputOpen(&out, path.c_str(), nullptr, replace);
    if (status == kStatusFinished &&
        std::fwrite(bytes.data(), 1, bytes.size(), out.fp) != bytes.size()) {
        const std::string why = std::strerror(errno);
        outputDiscard(&out);
        out.problem = why;
        status = kStatusWrite;
    }
    if (status == kStatusFinished) status = outputCommit(&out);
    if (status == kStatusFinished) return true;
    std::fprintf(messages(), "%s: %s: %s\n", kTool, path.c_str(),
                 status == kStatusOutputExists ? "exists (use -f to replace it)"
                                               : ("cannot write: " + out.problem).c_str());
    return false;
}

int runPack(const CLI::App& app, Common c, const PackArgs& p, EncodeSettings settings) {
    if (c.inputs.empty() == p.list.empty())
        throw UsageError{"give the prompts or --list, not both"};
    if (app.count("--output") == 0 || c.output.empty() || c.output == "-") {
        throw UsageError{"pack needs -o IMAGE"};
    }
    std::vector<PackedPrompt> prompts = packOrder(c, p);
    std::map<std::string, std::string> names;
    for (const PackedPrompt& pr : prompts) {
        std::string id = cIdentifier(pr.name);  // as the enum has it, in capitals
        std::transform(id.begin(), id.end(), id.begin(),
                       [](unsigned char ch) { return std::toupper(ch); });
        const auto [at, fresh] = names.emplace(id, pr.input);
        if (!fresh) {
            std::fprintf(messages(), "%s: %s: prompt name '%s' is also %s's\n", kTool,
                         pr.input.c_str(), pr.name.c_str(), at->second.c_str());
            return 1;
        }
    }
    // Device files are taken as they are; recordings are encoded into a scratch folder.
    std::vector<std::size_t> toEncode;
    for (std::size_t i = 0; i < prompts.size(); ++i) {
        prompts[i].file = deviceFileAt(prompts[i].input);
        if (prompts[i].file.empty()) toEncode.push_back(i);
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string scratch =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kestrune-pack.XXXXXX";
    if (mkdtemp(scratch.data()) == nullptr) {
        std::fprintf(messages(), "%s: cannot make a scratch folder: %s\n", kTool,
                     std::strerror(errno));
        return 1;
    }
    c.inputs.clear();
    for (const std::size_t i : toEncode) c.inputs.push_back(prompts[i].input);
    settings.replace = true;
    settings.measure = !c.quiet;
    Progress progress;
    const auto results = runBatch(
        c, &progress,
        [&](std::size_t k) {
            return encodeFile(settings, c.inputs[k], scratch + "/" + std::to_string(k) + ".adp",
                              &progress);
        },
        [](const FileResult&) {});
    for (std::size_t k = 0; k < toEncode.size(); ++k) {
        prompts[toEncode[k]].file = deviceFileAt(scratch + "/" + std::to_string(k) + ".adp");
    }
    std::filesystem::remove_all(scratch);
    if (exitStatus(results) != 0) return 1;

    const std::vector<uint8_t> image = buildImage(prompts, static_cast<uint16_t>(p.align));
    if (!writeWhole(c.output, std::string(image.begin(), image.end()), c.force) ||
        (!p.header.empty() &&
         !writeWhole(p.header, packHeader(p.header, prompts, image.size(), nameOf(c.output)),
                     c.force))) {
        return 1;
    }
    if (!c.quiet) {
        std::fprintf(messages(), "%s: %zu prompts, %zu bytes\n", c.output.c_str(), prompts.size(),
                     image.size());
    }
    if (c.json) {
        Json list = Json::array();
        for (std::size_t i = 0; i < prompts.size(); ++i) {
            list.push_back({{"id", i},
                            {"name", prompts[i].name},
                            {"input", prompts[i].input},
                            {"offset", prompts[i].offset},
                            {"length", prompts[i].file.size()}});
        }
        const Json manifest = {
            {"image", c.output}, {"count", prompts.size()}, {"align", p.align}, {"prompts", list}};
        writeStandardOutput(manifest.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
    }
    return 0;
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

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Converts recordings into the voice-playback device's ADPCM files and back.",
                 kTool};
    app.formatter(std::make_shared<Formatter>());
    app.set_version_flag("--version", std::string(kTool) + " " + KESTRUNE_VERSION);
    app.require_subcommand(1);

    Common encodeCommon;
    EncodeOptions encodeOptions;
    CLI::App* encode =
        app.add_subcommand("encode", "Recordings of any common format to device files");
    addCommon(encode, &encodeCommon, "Recordings to convert (- for standard input)");
    encodeOptions.add(encode, true);

    Common decodeCommon;
    CLI::App* decode = app.add_subcommand("decode", "Device files to mono 16-bit WAV");
    addCommon(decode, &decodeCommon, "Device files to convert (- for standard input)");

    Common packCommon;
    PackArgs packArgs;
    EncodeOptions packOptions;
    CLI::App* pack = app.add_subcommand("pack", "Prompts into one image for the firmware");
    pack->add_option("INPUT", packCommon.inputs, "Recordings or device files");
    pack->add_option("-o,--output", packCommon.output, "The image")->required();
    pack->add_option("--header", packArgs.header, "A C header with the prompt IDs");
    pack->add_option("--list", packArgs.list, "The prompts in ID order, one a line");
    pack->add_option("--align", packArgs.align, "Alignment of each prompt (default 4)")
        ->check(
            CLI::IsMember({1u, 2u, 4u, 8u, 16u, 32u, 64u, 128u, 256u, 512u, 1024u, 2048u, 4096u}));
    pack->add_option("-j,--jobs", packCommon.jobs, "Files encoded at once (default: the cores)")
        ->check(CLI::Range(1u, 1024u));
    pack->add_flag("-f,--force", packCommon.force, "Replace the image and header if they exist");
    pack->add_flag("--quiet", packCommon.quiet, "No summary lines, warnings or progress");
    pack->add_flag("--json", packCommon.json, "Print the manifest as JSON on standard output");
    packOptions.add(pack, false);

    std::vector<std::string> infoFiles;
    bool infoJson = false;
    CLI::App* info = app.add_subcommand("info", "What device files hold");
    info->add_option("FILE", infoFiles, "Device files (- for standard input)")->required();
    info->add_flag("--json", infoJson, "Print a JSON array on standard output");

    int status = 0;
    try {
        std::vector<std::string> args =
            normalizedArguments(argc, argv, {"encode", "decode", "info", "pack"});
        app.parse(args);
        if (encode->parsed()) {
            encodeOptions.finish(*encode);
            EncodeSettings& settings = encodeOptions.settings;
            settings.measure = !encodeCommon.quiet || encodeCommon.json;  // shown only then
            status = runEncode(*encode, encodeCommon, settings);
        } else if (pack->parsed()) {
            packOptions.finish(*pack);
            status = runPack(*pack, packCommon, packArgs, packOptions.settings);
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
