// The report subcommand: a listening report (listeningPage) of device files, each with
// its source.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>

#include "tool/commands.h"
#include "tool/listFile.h"
#include "tool/listening.h"
#include "tool/options.h"
#include "tool/paths.h"
#include "tool/report.h"
#include "tool/subcommand.h"

namespace kestrune::tool {

namespace {

int runReport(const Common& c, const std::string& report, const std::string& sourceList,
              const EncodeSettings& settings) {
    if (report.empty() || report == "-") throw UsageError{"the report needs a file name"};
    if (std::count(c.inputs.begin(), c.inputs.end(), "-") > 0) {
        throw UsageError{"the report reads device files, not standard input"};
    }
    // The list: lines of "DEVICE<tab>SOURCE"; other device files look beside themselves.
    std::map<std::string, std::string> named;
    std::vector<std::string> lines, read = c.inputs;
    if (!sourceList.empty()) {
        detail::Outcome<std::vector<std::string>> listed = readListFile(sourceList);
        if (!listed) {
            printFailure(sourceList, listed.failure().reason);
            return 1;
        }
        lines = std::move(*listed);
    }
    for (const std::string& line : lines) {
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos) named[line.substr(0, tab)] = line.substr(tab + 1);
    }
    for (const std::string& device : c.inputs) {
        const auto listed = named.find(device);
        read.push_back(listed != named.end() ? listed->second : sourceBeside(device));
    }
    if (!sourceList.empty()) read.push_back(sourceList);
    if (const std::string why = outputConflicts(read, {report}, 0)[0]; !why.empty()) {
        printFailure(report, why);
        return 1;
    }
    Progress progress;
    const auto results = runBatch(
        c, &progress,
        [&](std::size_t i) {
            const std::string& device = c.inputs[i];
            const auto listed = named.find(device);
            return listenToFile(
                device, listed != named.end() ? listed->second : sourceBeside(device), settings);
        },
        [&](const FileResult& r) {
            std::fprintf(messages(), "%s: %d-bit, %u Hz, %.2f s, SNR %s, segSNR %s, wSNR %s%s%s\n",
                         quoted(r.input).c_str(), r.bits, r.rate, r.seconds(),
                         decibels(r.snrDb).c_str(), decibels(r.segSnrDb).c_str(),
                         decibels(r.weightedSnrDb).c_str(), r.output.empty() ? "" : ", against ",
                         quoted(r.output).c_str());
        });
    printBatchEnd(results, c.quiet, "read", {});
    const bool written = writeListeningReport(report, c.force, results, "");
    return written ? exitStatus(results) : 1;
}

class Report : public Subcommand {
public:
    void define(CLI::App& app) override {
        app.add_option("REPORT", report_, "The report to write (.html)")->required();
        app.add_option("FILE", common_.inputs, "Device files")->required();
        app.add_option("--sources", sources_,
                       "Lines of DEVICE<tab>SOURCE (default: the audio file beside each)");
        app.add_option("-j,--jobs", common_.jobs, "Files read at once (default: the cores)")
            ->check(CLI::Range(1u, 1024u));
        app.add_flag("-f,--force", common_.force, "Replace the report if it exists");
        app.add_flag("--quiet", common_.quiet,
                     "No summary lines or progress; warnings only counted");
        options_.addShaping(&app);
        app.footer("Example: kestrune-adpcm report --loudness -23 --trim report.html adp/*.adp");
    }
    int run(CLI::App& app) override {
        options_.finish(app);
        return runReport(common_, report_, sources_, options_.settings);
    }

private:
    Common common_;
    std::string report_, sources_;
    EncodeOptions options_;
};

}  // namespace

std::unique_ptr<Subcommand> makeReport() {
    return std::make_unique<Report>();
}

}  // namespace kestrune::tool
