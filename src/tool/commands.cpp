#include "tool/commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include "io/outputCleanup.h"
#include "io/outputFile.h"
#include "tool/batch.h"
#include "tool/cSource.h"
#include "tool/listening.h"
#include "tool/options.h"
#include "tool/pack.h"
#include "tool/paths.h"
#include "tool/report.h"

namespace kestrune::tool {

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

void checkCommon(const CLI::App& app, const Common& c) {
    if (app.count("--output") > 0 && c.output.empty()) throw UsageError{"-o needs a file name"};
    if (app.count("--directory") > 0 && c.folder.empty()) {
        throw UsageError{"-d needs a folder name"};
    }
    if (c.json && c.output == "-") throw UsageError{"--json and -o - both want standard output"};
}

void MadeFolders::make(const Common& c) {
    const std::string folder = c.output == "-" ? "" : c.folder + folderOf(c.output);
    std::filesystem::path at;
    for (const auto& part : std::filesystem::path(folder)) {
        at /= part;
        std::error_code e;  // a folder that cannot be made fails each file's output
        if (std::filesystem::create_directory(at, e)) {
            made.push_back(at);
            detail::noteMadeFolder(at);
        }
    }
}

void MadeFolders::undo() {
    std::error_code ignored;
    for (auto it = made.rbegin(); it != made.rend(); ++it) std::filesystem::remove(*it, ignored);
}

bool skipExisting(const Common& c, const std::string& input, const std::string& output,
                  FileResult* r) {
    struct stat st {};
    if (!c.keep || output == "-" || stat(output.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    r->input = input;
    r->output = output;
    r->skipped = true;
    return true;
}

void checkStandardInput(const std::vector<std::string>& inputs) {
    if (std::count(inputs.begin(), inputs.end(), "-") > 0 && isatty(STDIN_FILENO)) {
        throw UsageError{"standard input is a terminal (pipe a file in, or name it)"};
    }
}

std::vector<std::string> outputConflicts(const std::vector<std::string>& inputs,
                                         const std::vector<std::string>& outputs,
                                         std::size_t perInput) {
    std::map<detail::FileKey, std::size_t> read;
    for (std::size_t j = 0; j < inputs.size(); ++j) {
        struct stat st {};
        const std::string& in = inputs[j];
        if (in == "-" ? fstat(STDIN_FILENO, &st) == 0 : stat(in.c_str(), &st) == 0) {
            read.emplace(detail::fileKey(st), j);
        }
    }
    const auto owner = [&](std::size_t i) { return i < perInput ? inputs[i] : outputs[i]; };
    std::map<detail::OutputIdentity, std::size_t> claimed;
    std::vector<std::string> conflict(outputs.size());
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        struct stat st {};
        const bool exists = outputs[i] == "-" ? fstat(STDOUT_FILENO, &st) == 0
                                              : detail::outputExisting(outputs[i].c_str(), &st);
        const auto input = exists ? read.find(detail::fileKey(st)) : read.end();
        if (input != read.end() && (i >= perInput || input->second != i)) {
            conflict[i] =
                "cannot create " + outputName(outputs[i]) + ": is the input " +
                (inputs[input->second] == owner(i) ? "itself" : quoted(inputs[input->second]));
            continue;
        }
        if (outputs[i] == "-") continue;
        detail::OutputIdentity id;
        if (!detail::outputIdentity(outputs[i].c_str(), &id))
            id = detail::OutputIdentity{0, 0, outputs[i]};
        const auto [at, fresh] = claimed.emplace(id, i);
        if (!fresh) {
            conflict[i] =
                "same output as " + quoted(owner(at->second)) + " (" + quoted(outputs[i]) + ")";
        }
    }
    return conflict;
}

void addCommon(CLI::App* app, Common* c, const char* inputHelp) {
    app->add_option("INPUT", c->inputs, inputHelp)->required();
    auto* o = app->add_option("-o,--output", c->output, "Output file (- for standard output)");
    app->add_option("-d,--directory", c->folder, "Folder for the outputs (NAME.ext each)")
        ->excludes(o);
    app->add_option("-j,--jobs", c->jobs, "Files converted at once (default: the cores)")
        ->check(CLI::Range(1u, 1024u));
    auto* force = app->add_flag("-f,--force", c->force, "Replace outputs that exist");
    app->add_flag("-n,--no-overwrite", c->keep, "Skip inputs whose output exists")->excludes(force);
    app->add_flag("--quiet", c->quiet, "No summary lines or progress; warnings only counted");
    app->add_flag("--json", c->json, "Print a JSON array of the results on standard output");
}

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
            if (!r.ok()) return printFailure(r);
            if (c.quiet) return;
            if (r.skipped) {
                std::fprintf(messages(), "%s -> %s: exists, skipped\n", quoted(r.input).c_str(),
                             outputName(r.output).c_str());
                return;
            }
            printWarnings(r);
            summary(r);
        },
        showProgress ? progressRenderer(*progress, c.inputs.size()) : nullptr, messages());
}

namespace {

// "loudness -31.2 -> -23.0 LUFS, gain +8.2 dB, 12 samples limited, trimmed 310 + 245 ms"
std::string levellingSummary(const FileResult& r) {
    char text[160] = "";
    std::string line;
    if (r.gainDb) {
        std::snprintf(text, sizeof text, "loudness %s -> %s LUFS, gain %+.1f dB",
                      decibels(r.loudnessIn, "").c_str(), decibels(r.loudnessOut, "").c_str(),
                      *r.gainDb);
        line = text;
    }
    if (r.limited)
        line += (line.empty() ? "" : ", ") + std::to_string(*r.limited) + " samples limited";
    if (r.trimStartMs && r.trimEndMs) {
        std::snprintf(text, sizeof text, "trimmed %.0f + %.0f ms", *r.trimStartMs, *r.trimEndMs);
        line += (line.empty() ? "" : ", ") + std::string(text);
    }
    if (r.headroomDb) {
        std::snprintf(text, sizeof text, "playback peaks at %.1f dBFS, %.1f dB %s the ceiling",
                      *r.playbackPeakDbfs, std::fabs(*r.headroomDb),
                      *r.headroomDb < 0 ? "over" : "under");
        line += (line.empty() ? "" : ", ") + std::string(text);
    }
    return line;
}

}  // namespace

std::string levelName(const EncodeSettings& settings) {
    // Level 0 is the vendor's quantiser, whatever the tune.
    return settings.level == 0
               ? "level 0"
               : "level " + std::to_string(settings.level) +
                     (settings.tune == kestrune::Tune::snr ? " snr" : " perceptual");
}

void printEncodeSummary(const FileResult& r, const std::string& level, const std::string& output) {
    std::fprintf(messages(),
                 "%s -> %s: %u Hz, %d-bit, %.2f s, %llu bytes, %s, SNR %s, segSNR %s, "
                 "wSNR %s, %llu clipped\n",
                 quoted(r.input).c_str(), outputName(output).c_str(), r.rate, r.bits, r.seconds(),
                 static_cast<unsigned long long>(r.bytes), level.c_str(), decibels(r.snrDb).c_str(),
                 decibels(r.segSnrDb).c_str(), decibels(r.weightedSnrDb).c_str(),
                 static_cast<unsigned long long>(r.clipped));
    if (r.gainDb || r.limited || r.trimStartMs || r.headroomDb) {
        std::fprintf(messages(), "  %s\n", levellingSummary(r).c_str());
    }
}

Json encodeJson(const FileResult& r, const EncodeSettings& settings) {
    Json o = conversionJson(r, settings.bits);
    o["snr_db"] = rounded(r.snrDb, 2);
    o["segsnr_db"] = rounded(r.segSnrDb, 2);
    o["wsnr_db"] = rounded(r.weightedSnrDb, 2);
    o["level"] = settings.level;
    o["tune"] = settings.tune == kestrune::Tune::snr ? "snr" : "perceptual";
    o["clipped"] = r.clipped;
    o["nonfinite"] = r.nonFinite;
    o["loudness_in"] = rounded(r.loudnessIn, 2);
    o["loudness_out"] = rounded(r.loudnessOut, 2);
    o["gain_db"] = rounded(r.gainDb, 2);
    o["limited"] = r.limited ? Json(*r.limited) : Json(nullptr);
    o["trim_start_ms"] = rounded(r.trimStartMs, 1);
    o["trim_end_ms"] = rounded(r.trimEndMs, 1);
    o["playback_peak_dbfs"] = rounded(r.playbackPeakDbfs, 2);
    o["headroom_db"] = rounded(r.headroomDb, 2);
    return o;
}

JobInputs imagePrompts(const std::vector<std::string>& inputs) {
    JobInputs j;
    for (const std::string& in : inputs) {
        const bool image = in != "-" && isImageFile(in);
        detail::Outcome<ImageContents> read = image ? readImageFile(in) : ImageContents{};
        if (image && read) {
            const auto& [layout, prompts] = *read;
            for (std::size_t i = 0; i < prompts.size(); ++i) {
                j.shown.push_back(imagePromptName(in, i));
                j.planned.push_back(folderOf(in) + imagePromptStem(in, i) + ".bin");
                j.paths.push_back(in);
                j.offsets.push_back(layout.offsets[i]);
                j.lengths.push_back(layout.lengths[i]);
                j.prompts.push_back(prompts[i]);
                j.refused.emplace_back();
            }
            continue;
        }
        j.shown.push_back(in);
        j.planned.push_back(in);
        j.paths.push_back(in);
        j.offsets.push_back(0);
        j.lengths.push_back(0);
        j.prompts.push_back(AdpInfo{});
        j.refused.push_back(read ? std::string() : read.failure().reason);
    }
    return j;
}

}  // namespace kestrune::tool
