// kestrune-adpcm pack: recordings and device files into one image, with its C header and
// JSON manifest. Recordings are encoded as encode encodes them, into memory; device files
// are streamed into the image as they are. The image and the header are both made, or
// neither.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "adpFile.h"
#include "io/inputFile.h"
#include "io/outputFile.h"
#include "io/status.h"
#include "tool/batch.h"
#include "tool/cSource.h"
#include "tool/commands.h"
#include "tool/listFile.h"
#include "tool/options.h"
#include "tool/pack.h"
#include "tool/packPrompts.h"
#include "tool/paths.h"
#include "tool/report.h"
#include "tool/subcommand.h"

namespace kestrune::tool {

namespace {

// Checks pack's arguments before any work; throws UsageError.
void checkPackArgs(const CLI::App& app, const Common& c, const PackArgs& p) {
    if (c.inputs.empty() && p.list.empty()) throw UsageError{"pack needs prompts or --list"};
    if (app.count("--output") == 0 || c.output.empty()) throw UsageError{"pack needs -o IMAGE"};
    if (app.count("--header") > 0 && p.header.empty()) {
        throw UsageError{"--header needs a file name"};
    }
    if ((c.output == "-") + (p.header == "-") + c.json > 1) {
        throw UsageError{"the image, the header and --json all want standard output"};
    }
    std::vector<std::string> given = c.inputs;
    given.push_back(p.list);
    if (std::count(given.begin(), given.end(), "-") > 1) {
        throw UsageError{"standard input can be read only once"};
    }
    checkStandardInput(given);
}

// Opens the image and the header (when asked for) before any work: neither may be an
// input or the other. False, told, when one cannot be.
bool openPackOutputs(const Common& c, const PackArgs& p, const std::vector<Prompt>& prompts,
                     std::vector<std::string>* outputs, std::vector<detail::OutputFile>* opened) {
    std::vector<std::string> read;
    *outputs = {c.output};
    for (const Prompt& pr : prompts) read.push_back(pr.input);
    if (!p.list.empty()) read.push_back(p.list);
    if (!p.header.empty()) outputs->push_back(p.header);
    const std::vector<std::string> conflicts = outputConflicts(read, *outputs, 0);
    for (std::size_t i = 0; i < outputs->size(); ++i) {
        if (!conflicts[i].empty()) {
            printFailure((*outputs)[i] == "-" ? "standard output" : (*outputs)[i], conflicts[i]);
            return false;
        }
    }
    opened->resize(outputs->size());
    for (std::size_t i = 0; i < outputs->size(); ++i) {
        const int status = openOutput(&(*opened)[i], (*outputs)[i], nullptr, c.force);
        if (status != kStatusFinished) {
            FileResult r;
            r.input = r.output = (*outputs)[i];
            outputFailed(&r, status, (*opened)[i].problem);
            printFailure(r);
            return false;
        }
    }
    return true;
}

// Takes device files as they are and encodes recordings into memory, then lays out the
// image. False, told, at a failure.
bool preparePrompts(const Common& c, const PackArgs& p, EncodeSettings settings,
                    std::vector<Prompt>* prompts, ImageLayout* layout) {
    bool ok = true;
    std::vector<uint64_t> lengths;
    std::vector<Prompt*> toEncode;
    for (Prompt& pr : *prompts) {
        if (!openPrompt(&pr)) {
            printFailure(pr.result);
            ok = false;
        } else if (!pr.device) {
            toEncode.push_back(&pr);
        }
        lengths.push_back(pr.device ? pr.length() : 0);
    }
    if (!ok) return false;
    if (const auto planned = planImage(lengths, p.align); !planned) {
        printFailure(c.output, planned.failure().reason);
        return false;
    }
    Common batch = c;
    batch.inputs.clear();
    for (const Prompt* pr : toEncode) batch.inputs.push_back(pr->input);
    settings.measure = !c.quiet || c.json;
    const std::string level = levelName(settings);
    Progress progress;
    auto results = runBatch(
        batch, &progress,
        [&](std::size_t k) { return encodePrompt(settings, toEncode[k], &progress); },
        [&](const FileResult& r) { printEncodeSummary(r, level, c.output); });
    std::vector<std::string> batchWarnings;
    if (settings.rate == 0) batchWarnings.push_back(mixedRates(results));
    printBatchEnd(results, c.quiet, "encoded", batchWarnings);
    if (exitStatus(results) != 0) return false;
    for (std::size_t k = 0; k < toEncode.size(); ++k) toEncode[k]->result = std::move(results[k]);
    lengths.clear();
    for (const Prompt& pr : *prompts) lengths.push_back(pr.length());
    detail::Outcome<ImageLayout> planned = planImage(lengths, p.align);
    if (!planned) {
        printFailure(c.output, planned.failure().reason);
        return false;
    }
    *layout = std::move(*planned);
    return true;
}

// Writes the image and the header in full, then commits both. False, told, on a failure.
bool writePackOutputs(const PackArgs& p, const Common& c, const std::string& prefix,
                      const std::vector<Prompt>& prompts, const ImageLayout& layout,
                      const std::vector<std::string>& outputs,
                      std::vector<detail::OutputFile>& opened) {
    std::vector<std::string> promptNames;
    for (const Prompt& pr : prompts) promptNames.push_back(pr.name);
    detail::Done state = writeImage(opened[0].fp, layout, prompts);
    std::size_t failed = 0;
    if (state && outputs.size() > 1) {
        // Two headers included together need their own guards and prefixes.
        const std::string guard = "KESTRUNE_PACK_" + prefix +
                                  (p.header == "-" ? "" : "_" + cIdentifier(nameOf(p.header)));
        const std::string text = packHeader(prefix, guard, promptNames, layout, nameOf(c.output));
        failed = 1;
        if (std::fwrite(text.data(), 1, text.size(), opened[1].fp) != text.size()) {
            state = detail::Failure::ofErrno(kStatusWrite);
        }
    }
    // Both written out before either is put in place, so that a full disk fails both.
    for (std::size_t i = 0; state && i < opened.size(); ++i) {
        failed = i;
        if (std::fflush(opened[i].fp) != 0) state = detail::Failure::ofErrno(kStatusWrite);
    }
    for (std::size_t i = 0; state && i < opened.size(); ++i) {
        failed = i;
        if (const int status = detail::outputCommit(&opened[i]); status != kStatusFinished) {
            state = detail::Failure{status, opened[i].problem};
        }
    }
    if (!state) {
        FileResult r;
        r.input = r.output = outputs[failed];
        if (state.status() == kStatusRead) {
            r.fail(state.failure());
        } else {
            outputFailed(&r, state.status(), state.failure().reason);
        }
        printFailure(r);
        return false;
    }
    return true;
}

// The manifest, on standard output.
void printManifest(const Common& c, const PackArgs& p, const EncodeSettings& settings,
                   const std::vector<Prompt>& prompts, const ImageLayout& layout) {
    Json list = Json::array();
    for (std::size_t i = 0; i < prompts.size(); ++i) {
        Json o = {{"id", i},
                  {"name", prompts[i].name},
                  {"input", prompts[i].input},
                  {"offset", layout.offsets[i]},
                  {"length", layout.lengths[i]}};
        const FileResult& r = prompts[i].result;
        Json e = encodeJson(r, settings);
        if (prompts[i].device) e["bits"] = r.bits, e["level"] = e["tune"] = nullptr;
        for (const char* key : {"input", "output", "ok", "error"}) e.erase(key);
        o.update(e);
        list.push_back(std::move(o));
    }
    const Json manifest = {
        {"image", c.output}, {"count", prompts.size()}, {"align", p.align}, {"prompts", list}};
    writeStandardOutput(manifest.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
}

int runPack(const CLI::App& app, Common c, const PackArgs& p, EncodeSettings settings) {
    checkPackArgs(app, c, p);
    std::vector<Prompt> prompts;
    struct Held {
        std::vector<Prompt>& prompts;
        ~Held() {
            for (const Prompt& pr : prompts) {
                if (pr.held >= 0) close(pr.held);
            }
        }
    } held{prompts};
    if (!packPrompts(c, p, &prompts)) return 1;
    const std::string prefix = cIdentifier(
        !p.prefix.empty() ? p.prefix
                          : stemOf(p.header.empty() || p.header == "-" ? c.output : p.header));
    std::map<std::string, std::string> names;
    for (const Prompt& pr : prompts) {
        const auto [at, fresh] = names.emplace(promptConstant(prefix, pr.name), pr.input);
        if (!fresh) {
            printFailure(pr.input, "prompt name '" + pr.name + "' is also " + at->second + "'s");
            return 1;
        }
    }
    // Neither output is left when any of this fails (an OutputFile discards its own).
    std::vector<std::string> outputs;
    std::vector<detail::OutputFile> opened;
    ImageLayout layout;
    if (!openPackOutputs(c, p, prompts, &outputs, &opened) ||
        !preparePrompts(c, p, settings, &prompts, &layout) ||
        !writePackOutputs(p, c, prefix, prompts, layout, outputs, opened)) {
        return 1;
    }
    if (!c.quiet) {
        std::fprintf(messages(), "%s: %zu prompts, %llu bytes\n", outputName(c.output).c_str(),
                     prompts.size(), static_cast<unsigned long long>(layout.length));
    }
    if (c.json) printManifest(c, p, settings, prompts, layout);
    return 0;
}

class Pack : public Subcommand {
public:
    void define(CLI::App& app) override {
        app.add_option("INPUT", common_.inputs, "Recordings or device files");
        app.add_option("-o,--output", common_.output, "The image")->required();
        app.add_option("--header", args_.header, "A C header with the prompt IDs");
        app.add_option("--list", args_.list, "The prompts in ID order, one a line");
        app.add_option("--prefix", args_.prefix, "The header's prefix (default: its name)");
        app.add_option("--align", args_.align, "Alignment of each prompt (default 4)")
            ->check(CLI::IsMember(
                {1u, 2u, 4u, 8u, 16u, 32u, 64u, 128u, 256u, 512u, 1024u, 2048u, 4096u}));
        app.add_option("-j,--jobs", common_.jobs, "Files encoded at once (default: the cores)")
            ->check(CLI::Range(1u, 1024u));
        app.add_flag("-f,--force", common_.force, "Replace the image and header if they exist");
        app.add_flag("--quiet", common_.quiet,
                     "No summary lines or progress; warnings only counted");
        app.add_flag("--json", common_.json, "Print the manifest as JSON on standard output");
        options_.add(&app, false);
        app.footer("Example: kestrune-adpcm pack -r 16000 -o voice.bin --header voice.h rec/*.wav");
    }
    int run(CLI::App& app) override {
        options_.finish(app);
        return runPack(app, common_, args_, options_.settings);
    }

private:
    Common common_;
    PackArgs args_;
    EncodeOptions options_;
};

}  // namespace

std::unique_ptr<Subcommand> makePack() {
    return std::make_unique<Pack>();
}

}  // namespace kestrune::tool
