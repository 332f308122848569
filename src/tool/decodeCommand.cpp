// kestrune-adpcm decode: device files (and the prompts of images) to mono 16-bit WAV.
#include <algorithm>
#include <cstdio>

#include "tool/commands.h"
#include "tool/options.h"
#include "tool/paths.h"
#include "tool/report.h"
#include "tool/subcommand.h"

namespace kestrune::tool {

namespace {

int runDecode(const CLI::App& app, Common c) {
    checkCommon(app, c);
    checkStandardInput(c.inputs);
    const JobInputs in = imagePrompts(c.inputs);
    c.inputs = in.shown;
    const std::vector<std::string> outputs = planOutputs(in.planned, c.output, c.folder, ".wav");
    MadeFolders folders;
    folders.make(c);
    const std::vector<std::string> clash = outputConflicts(in.paths, outputs, in.paths.size());
    Progress progress;
    const auto results = runBatch(
        c, &progress,
        [&](std::size_t i) {
            FileResult r;
            if (skipExisting(c, in.shown[i], outputs[i], &r)) return r;
            if (!in.refused[i].empty()) {
                r.fail(kStatusFormat, in.refused[i]);
            } else if (!clash[i].empty()) {
                r.fail(kStatusOutputOpen, clash[i]);
            } else {
                r = decodeJob(in.paths[i], outputs[i], c.force, &progress, in.offsets[i]);
            }
            r.input = in.shown[i];
            return r;
        },
        [&](const FileResult& r) {
            std::fprintf(messages(), "%s -> %s: %u Hz, %d-bit, %.2f s, %llu samples\n",
                         quoted(r.input).c_str(), outputName(r.output).c_str(), r.rate, r.bits,
                         r.seconds(), static_cast<unsigned long long>(r.samples));
        });
    if (std::none_of(results.begin(), results.end(), [](const FileResult& r) { return r.ok(); })) {
        folders.undo();
    }
    printBatchEnd(results, c.quiet, "decoded", {});
    if (c.json) {
        std::vector<Json> objects;
        for (const FileResult& r : results) objects.push_back(conversionJson(r, r.bits));
        printJson(objects);
    }
    return exitStatus(results);
}

class Decode : public Subcommand {
public:
    void define(CLI::App& app) override {
        addCommon(&app, &common_, "Device files to convert (- for standard input)");
        app.footer("Example: kestrune-adpcm decode -o - prompt.adp | play -");
    }
    int run(CLI::App& app) override { return runDecode(app, common_); }

private:
    Common common_;
};

}  // namespace

std::unique_ptr<Subcommand> makeDecode() {
    return std::make_unique<Decode>();
}

}  // namespace kestrune::tool
