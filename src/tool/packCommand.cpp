// kestrune-adpcm pack: recordings and device files into one image, with its C header and
// JSON manifest.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "adpFile.h"
#include "io/outputFile.h"
#include "io/status.h"
#include "tool/cSource.h"
#include "tool/commands.h"
#include "tool/options.h"
#include "tool/pack.h"
#include "tool/paths.h"
#include "tool/report.h"

namespace {

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
            prompts.push_back({stemOf(path), path, {}, 0});
        }
    }
    for (const std::string& in : c.inputs) prompts.push_back({stemOf(in), in, {}, 0});
    if (p.list.empty()) {
        std::stable_sort(prompts.begin(), prompts.end(),
                         [](const auto& a, const auto& b) { return a.name < b.name; });
    }
    return prompts;
}

}  // namespace

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
            return encodeJob(settings, c.inputs[k], scratch + "/" + std::to_string(k) + ".adp",
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
