// kestrune-adpcm info: what device files (and the prompts of images) hold.
#include <cstdio>

#include "tool/commands.h"
#include "tool/options.h"
#include "tool/report.h"
#include "tool/subcommand.h"

namespace kestrune::tool {

namespace {

int runInfo(const std::vector<std::string>& files, bool json) {
    checkStandardInput(files);
    std::vector<FileResult> results;
    const JobInputs in = imagePrompts(files);
    for (std::size_t i = 0; i < in.shown.size(); ++i) {
        FileResult r;
        r.input = in.shown[i];
        if (!in.refused[i].empty()) {
            r.fail(kStatusFormat, in.refused[i]);
        } else if (in.lengths[i] == 0) {
            r = inspectJob(in.paths[i]);
        } else {  // a prompt of an image, checked with it
            describeDevice(&r, in.prompts[i]);
        }
        results.push_back(std::move(r));
    }
    if (json) {
        std::vector<Json> objects;
        for (const FileResult& r : results) {
            const auto known = [&](Json v) { return r.ok() ? v : Json(nullptr); };
            objects.push_back(Json{{"path", r.input},
                                   {"ok", r.ok()},
                                   {"error", r.ok() ? Json(nullptr) : Json(r.failure.reason)},
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
        if (!r.ok()) {
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

class Info : public Subcommand {
public:
    void define(CLI::App& app) override {
        app.add_option("FILE", files_, "Device files (- for standard input)")->required();
        app.add_flag("--json", json_, "Print a JSON array on standard output");
        app.footer("Example: kestrune-adpcm info --json prompt.adp voice.bin");
    }
    int run(CLI::App&) override { return runInfo(files_, json_); }

private:
    std::vector<std::string> files_;
    bool json_ = false;
};

}  // namespace

std::unique_ptr<Subcommand> makeInfo() {
    return std::make_unique<Info>();
}

}  // namespace kestrune::tool
