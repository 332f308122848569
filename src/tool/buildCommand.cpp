#include "tool/buildCommand.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "io/outputFile.h"
#include "io/status.h"
#include "tool/buildBudget.h"
#include "tool/buildSetup.h"
#include "tool/buildSpeech.h"
#include "tool/commands.h"
#include "tool/listFile.h"
#include "tool/paths.h"
#include "tool/subcommand.h"

namespace kestrune::tool {

namespace {

void say(const std::string& line) {
    std::fprintf(messages(), "%s: %s\n", kTool, line.c_str());
}

// What a build writes, each path with its bytes.
using Outputs = std::vector<std::pair<std::string, std::string>>;

// Writes every output in full before any is put in place, so that a failure (a full disk)
// leaves the outputs of the last build as they were.
bool commitOutputs(const Outputs& outputs) {
    std::vector<detail::OutputFile> files(outputs.size());
    const auto failed = [&](std::size_t i, const std::string& why) {
        say(tool::quoted(outputs[i].first) + ": " + why);
        for (detail::OutputFile& f : files) detail::outputDiscard(&f);
        return false;
    };
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const std::string& bytes = outputs[i].second;
        if (detail::outputOpen(&files[i], outputs[i].first.c_str(), nullptr, true) !=
            kStatusFinished) {
            return failed(i, "cannot write: " + files[i].problem);
        }
        if (std::fwrite(bytes.data(), 1, bytes.size(), files[i].fp) != bytes.size() ||
            std::fflush(files[i].fp) != 0) {
            return failed(i, std::string("cannot write: ") + std::strerror(errno));
        }
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (detail::outputCommit(&files[i]) != kStatusFinished) {
            return failed(i, "cannot write: " + files[i].problem);
        }
    }
    return true;
}

std::string outputPath(const BuildArgs& a, const std::string& name) {
    return a.folder + "/" + name;
}

// The reasons --check finds against the outputs: any missing or older than an input, a
// prompt whose sound, text or options changed since, an image over the budget.
void staleReasons(const BuildArgs& a, const BuildSetup& s, uint64_t budget,
                  std::vector<std::string>* reasons) {
    // The lock file is the build's output as much as its input: its text is compared.
    std::vector<std::string> inputs = {a.manifest};
    for (const BuildItem& item : s.items) {
        if (!item.placeholder()) inputs.push_back(item.recording);
    }
    const auto modified = [](const std::string& path, struct timespec* t) {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) return false;
        *t = st.st_mtim;
        return true;
    };
    const auto older = [](const timespec& x, const timespec& y) {
        return x.tv_sec != y.tv_sec ? x.tv_sec < y.tv_sec : x.tv_nsec < y.tv_nsec;
    };
    std::vector<std::string> outputs = {outputPath(a, "prompts.h")};
    for (const BuildLanguage& l : s.languages) {
        outputs.push_back(outputPath(a, l.lang + ".bin"));
        outputs.push_back(outputPath(a, l.lang + ".json"));
    }
    for (const std::string& out : outputs) {
        timespec made{}, changed{};
        if (!modified(out, &made)) {
            reasons->push_back(tool::quoted(out) + " is missing");
            continue;
        }
        for (const std::string& in : inputs) {
            if (modified(in, &changed) && older(made, changed)) {
                reasons->push_back(tool::quoted(out) + " is older than " + tool::quoted(in));
                break;
            }
        }
    }
    for (const BuildLanguage& l : s.languages) {
        const detail::Outcome<std::string> text = readWholeFile(outputPath(a, l.lang + ".json"));
        if (!text) continue;
        const Json built = Json::parse(*text, nullptr, false);
        if (budget > 0 && built.contains("length") && built["length"].is_number() &&
            built["length"].get<uint64_t>() > budget) {
            reasons->push_back(tool::quoted(outputPath(a, l.lang + ".bin")) +
                               " is over the budget of " + std::to_string(budget) + " bytes");
        }
        for (const BuildItem* item : l.byId) {
            if (item == nullptr) continue;
            bool same = false;
            for (const Json& p : built.value("prompts", Json::array())) {
                same = same || (p.value("name", "") == item->name &&
                                p.value("key", "") == keyText(encodingKey(*item)));
            }
            if (!same) reasons->push_back(item->shown() + ": its sound, text or options changed");
        }
    }
}

int runCheck(const BuildArgs& a, const BuildSetup& s, uint64_t budget) {
    std::vector<std::string> reasons = placeholderReasons(a, s);
    if (lockText(s.lock, nameOf(a.manifest)) != s.lockText) {
        reasons.push_back(tool::quoted(s.lockPath) + " would change");
    }
    staleReasons(a, s, budget, &reasons);
    for (const std::string& r : reasons) say("check: " + r);
    if (reasons.empty() && !a.quiet) say(tool::quoted(a.folder) + " is up to date");
    return reasons.empty() ? 0 : 1;
}

}  // namespace

void defineBuild(CLI::App* c, BuildCli* b) {
    BuildArgs& a = b->args;
    b->app = c;
    a.speech = kDefaultSpeech;
    a.jobs = std::max(1u, std::thread::hardware_concurrency());
    c->add_option("MANIFEST", a.manifest, "The manifest (CSV: name, LANG, LANG.text, ...)")
        ->required();
    c->add_option("-d,--directory", a.folder, "The folder for the outputs")->required();
    c->add_option("--tts", a.speech,
                  "The command that speaks a placeholder: {text}, {lang}, {out} (default: "
                  "espeak-ng)");
    c->add_flag("--no-placeholders", a.noPlaceholders, "A missing recording is an error");
    c->add_flag("--release", a.release, "A placeholder is an error");
    c->add_flag("--check", a.check,
                "Build nothing; exit 1 saying why when a build would change anything");
    c->add_option("--budget", a.budget,
                  "Each image's size at most: bytes, or with KiB or MiB; chooses each prompt's "
                  "rate and code width");
    c->add_option("--align", a.align, "Alignment of each prompt (default 4)")
        ->check(
            CLI::IsMember({1u, 2u, 4u, 8u, 16u, 32u, 64u, 128u, 256u, 512u, 1024u, 2048u, 4096u}));
    c->add_option("-j,--jobs", a.jobs, "Prompts encoded at once (default: the cores)")
        ->check(CLI::Range(1u, 1024u));
    c->add_flag("--quiet", a.quiet, "No summary lines; warnings only counted");
    c->add_option("--report", a.report,
                  "Also write a listening report (HTML) of every prompt there");
    b->encode.add(c, false);
    c->footer("Example: kestrune-adpcm build --loudness -23 --trim prompts.csv -d out");
}

int runBuild(BuildCli& b) {
    BuildArgs& a = b.args;
    b.encode.finish(*b.app);
    EncodeSettings set = b.encode.settings;
    set.measure = true;
    detail::Outcome<std::vector<std::string>> speech = splitSpeechCommand(a.speech);
    if (!speech) throw UsageError{"--tts: " + speech.failure().reason};
    a.speechWords = std::move(*speech);
    if (b.app->count("--report") > 0 && (a.report.empty() || a.report == "-")) {
        throw UsageError{"--report needs a file name"};
    }
    uint64_t budget = 0;
    if (!a.budget.empty() && !parseSize(a.budget, &budget)) {
        throw UsageError{"--budget: '" + a.budget + "' is not a size (bytes, or with KiB or MiB)"};
    }
    if (budget > 0 && (b.app->count("--rate") > 0 || b.app->count("--bits") > 0)) {
        throw UsageError{"--budget chooses the rate and code width; -r and -b pin them for all"};
    }
    BuildSetup s;
    if (!setUpBuild(a, set, &s)) return 1;
    if (a.check) return runCheck(a, s, budget);
    const std::vector<std::string> refused = placeholderReasons(a, s);
    for (const std::string& r : refused) say(r);
    if (!refused.empty()) return 1;

    // Nothing may be written over an input.
    std::vector<std::string> inputs = {a.manifest}, outputs = {outputPath(a, "prompts.h")};
    for (const BuildItem& item : s.items) {
        if (!item.placeholder()) inputs.push_back(item.recording);
    }
    for (const BuildLanguage& l : s.languages) {
        outputs.push_back(outputPath(a, l.lang + ".bin"));
        outputs.push_back(outputPath(a, l.lang + ".json"));
    }
    if (!a.report.empty()) outputs.push_back(a.report);
    std::error_code made;
    std::filesystem::create_directories(a.folder, made);
    const std::vector<std::string> conflicts = outputConflicts(inputs, outputs, 0);
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (!conflicts[i].empty()) {
            say(tool::quoted(outputs[i]) + ": " + conflicts[i]);
            return 1;
        }
    }
    std::vector<uint64_t> used;
    if (!encodeSet(a, &s, budget, &used)) return 1;

    const uint32_t hash = idTableHash(s.lock);
    Outputs written = {{outputs[0], buildHeader(s.lock, s.languages, hash)}};
    for (const BuildLanguage& l : s.languages) {
        const detail::Outcome<std::vector<uint8_t>> built = buildImage(l, a.align, hash);
        if (!built) {
            say(tool::quoted(outputPath(a, l.lang + ".bin")) + ": " + built.failure().reason);
            return 1;
        }
        const std::vector<uint8_t>& image = *built;
        written.push_back(
            {outputPath(a, l.lang + ".bin"), std::string(image.begin(), image.end())});
        written.push_back({outputPath(a, l.lang + ".json"),
                           buildJson(l, outputPath(a, l.lang + ".bin"), a.align, hash)});
        if (!a.quiet) {
            std::size_t placeholders = 0;
            for (const BuildItem* item : l.byId)
                placeholders += item != nullptr && item->placeholder();
            say(tool::quoted(outputPath(a, l.lang + ".bin")) + ": " +
                std::to_string(l.byId.size()) + " IDs, " + std::to_string(placeholders) +
                " placeholders, " + std::to_string(image.size()) + " bytes" +
                (budget > 0 ? ", " + std::to_string(budget - image.size()) + " of the budget left"
                            : ""));
        }
    }
    const std::string lock = lockText(s.lock, nameOf(a.manifest));
    if (lock != s.lockText) written.push_back({s.lockPath, lock});
    if (!commitOutputs(written)) return 1;
    if (!a.report.empty() && !writeBuildReport(a, s.items)) return 1;
    cacheKeep(a, used);
    return 0;
}

namespace {

class Build : public Subcommand {
public:
    void define(CLI::App& app) override { defineBuild(&app, &cli_); }
    int run(CLI::App&) override { return runBuild(cli_); }

private:
    BuildCli cli_;
};

}  // namespace

std::unique_ptr<Subcommand> makeBuild() {
    return std::make_unique<Build>();
}

}  // namespace kestrune::tool
