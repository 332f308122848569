// kestrune-adpcm encode: recordings to device files (or C headers), one job each, and a
// listening report of them when asked.
#include <algorithm>
#include <cstdio>
#include <map>

#include "tool/commands.h"
#include "tool/listening.h"
#include "tool/options.h"
#include "tool/paths.h"
#include "tool/report.h"
#include "tool/subcommand.h"

namespace kestrune::tool {

namespace {

// The names the container makes each output define (a C array's), each once in a batch:
// an output that would define one again fails.
void namesClash(const ContainerRow& container, const std::vector<std::string>& inputs,
                const std::vector<std::string>& outputs, std::vector<std::string>* clash) {
    std::map<std::string, std::size_t> named;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        for (const std::string& name :
             container.defines(stemOf(outputs[i] == "-" ? inputs[i] : outputs[i]))) {
            const auto [at, fresh] = named.emplace(name, i);
            if (!fresh && at->second != i && (*clash)[i].empty()) {
                (*clash)[i] = "its " + std::string(container.defined) + " '" + name + "' is also " +
                              quoted(inputs[at->second]) + "'s";
            }
        }
    }
}

int runEncode(const CLI::App& app, const Common& c, EncodeSettings settings,
              const std::string& report) {
    checkCommon(app, c);
    if (app.count("--report") > 0 && (report.empty() || report == "-")) {
        throw UsageError{"--report needs a file name"};
    }
    settings.listen = !report.empty();
    checkStandardInput(c.inputs);
    std::vector<std::string> outputs =
        planOutputs(c.inputs, c.output, c.folder, settings.container->extension);
    MadeFolders folders;
    folders.make(c);
    // The report is one more output, which no input nor device file may be.
    if (!report.empty()) outputs.push_back(report);
    std::vector<std::string> clash = outputConflicts(c.inputs, outputs, c.inputs.size());
    if (!report.empty()) {
        outputs.pop_back();
        if (!clash.back().empty()) {
            folders.undo();
            printFailure(report, clash.back());
            return 1;
        }
        clash.pop_back();
    }
    namesClash(*settings.container, c.inputs, outputs, &clash);
    settings.replace = c.force;
    const std::string tuneName = levelName(settings);
    Progress progress;
    const auto results = runBatch(
        c, &progress,
        [&](std::size_t i) {
            FileResult r;
            if (skipExisting(c, c.inputs[i], outputs[i], &r)) return r;
            if (clash[i].empty()) {
                return encodeJob(settings, c.inputs[i], outputs[i], &progress);
            }
            r.input = c.inputs[i];
            return r.fail(kStatusOutputOpen, clash[i]);
        },
        [&](const FileResult& r) { printEncodeSummary(r, tuneName, r.output); });
    if (exitStatus(results) != 0 &&
        std::none_of(results.begin(), results.end(), [](const FileResult& r) { return r.ok(); })) {
        folders.undo();
    }
    std::vector<std::string> batchWarnings;
    if (settings.rate == 0) batchWarnings.push_back(mixedRates(results));
    printBatchEnd(results, c.quiet, "encoded", batchWarnings);
    if (c.json) {
        std::vector<Json> objects;
        for (const FileResult& r : results) {
            objects.push_back(encodeJson(r, settings));
        }
        printJson(objects);
    }
    if (!report.empty() && !writeListeningReport(report, c.force, results, tuneName)) return 1;
    return exitStatus(results);
}

class Encode : public Subcommand {
public:
    void define(CLI::App& app) override {
        addCommon(&app, &common_, "Recordings to convert (- for standard input)");
        options_.add(&app, true);
        app.add_option("--report", report_, "Also write a listening report (HTML) there");
        app.footer(
            "Example: kestrune-adpcm encode --loudness -23 --trim -r 16000 -d adp rec/*.wav");
    }
    int run(CLI::App& app) override {
        options_.finish(app);
        EncodeSettings& settings = options_.settings;
        // Measured only where shown.
        settings.measure = !common_.quiet || common_.json || !report_.empty();
        return runEncode(app, common_, settings, report_);
    }

private:
    Common common_;
    EncodeOptions options_;
    std::string report_;
};

}  // namespace

std::unique_ptr<Subcommand> makeEncode() {
    return std::make_unique<Encode>();
}

}  // namespace kestrune::tool
