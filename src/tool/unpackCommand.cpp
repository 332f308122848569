// kestrune-adpcm unpack: an image's device files back into a folder, byte for byte.
#include <cstdio>
#include <filesystem>

#include "tool/commands.h"
#include "tool/options.h"
#include "tool/pack.h"
#include "tool/paths.h"
#include "tool/report.h"
#include "tool/subcommand.h"

namespace kestrune::tool {

namespace {

int runUnpack(const Common& c) {
    if (c.inputs.size() != 1 || c.folder.empty()) throw UsageError{"unpack takes IMAGE -d DIR"};
    const JobInputs in = imagePrompts(c.inputs);
    if (!in.refused[0].empty() || in.lengths[0] == 0) {
        printFailure(c.inputs[0],
                     in.refused[0].empty() ? "not an image (no \"KPAK\" mark)" : in.refused[0]);
        return 1;
    }
    std::vector<std::string> outputs;
    const std::string folder = c.folder + (c.folder.back() == '/' ? "" : "/");
    for (std::size_t i = 0; i < in.shown.size(); ++i) {
        outputs.push_back(folder + imagePromptStem(c.inputs[0], i) + ".adp");
    }
    std::error_code made;  // a folder that cannot be made fails each file's output
    std::filesystem::create_directories(c.folder, made);
    const std::vector<std::string> clash = outputConflicts(in.paths, outputs, outputs.size());
    Common batch = c;
    batch.inputs = in.shown;
    Progress progress;
    const auto results = runBatch(
        batch, &progress,
        [&](std::size_t i) {
            FileResult r;
            if (clash[i].empty()) {
                r = extractJob(in.paths[i], in.offsets[i], in.lengths[i], outputs[i], c.force);
                describeDevice(&r, in.prompts[i]);
            } else {
                r.fail(kStatusOutputOpen, clash[i]);
            }
            r.input = in.shown[i];
            return r;
        },
        [](const FileResult& r) {
            std::fprintf(messages(), "%s -> %s: %u Hz, %d-bit, %.2f s\n", quoted(r.input).c_str(),
                         quoted(r.output).c_str(), r.rate, r.bits, r.seconds());
        });
    return exitStatus(results);
}

class Unpack : public Subcommand {
public:
    void define(CLI::App& app) override {
        app.add_option("IMAGE", common_.inputs, "The image")->required();
        app.add_option("-d,--directory", common_.folder, "The folder")->required();
        app.add_flag("-f,--force", common_.force, "Replace files that exist");
        app.add_flag("--quiet", common_.quiet, "No summary lines");
        app.footer("Example: kestrune-adpcm unpack voice.bin -d prompts");
    }
    int run(CLI::App&) override { return runUnpack(common_); }

private:
    Common common_;
};

}  // namespace

std::unique_ptr<Subcommand> makeUnpack() {
    return std::make_unique<Unpack>();
}

}  // namespace kestrune::tool
