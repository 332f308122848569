#include "tool/options.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "adpFile.h"
#include "audio/optionRanges.h"
#include "kestrune/kestrune.hpp"
#include "tool/cSource.h"

namespace kestrune::tool {

namespace {

// The one reading of every floating option: a finite number (never NaN or infinite, which
// CLI11's own ranges let through) within the library's range for it, stored in *value. It
// is the option's check, so that a refusal reads as CLI11's do ("--gain: '...' is not ...").
CLI::Validator finiteIn(const detail::OptionRange& r, double* value) {
    return CLI::Validator(
        [r, value](std::string& text) -> std::string {
            char* end = nullptr;
            const double v = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !r.holds(v)) {
                char range[96];
                std::snprintf(range, sizeof range, "a number of %s from %g to %g", r.unit, r.low,
                              r.high);
                return "'" + text + "' is not " + range;
            }
            *value = v;
            return "";
        },
        r.unit);
}

// A floating option, read once by finiteIn into *value.
CLI::Option* addNumber(CLI::App* app, const char* name, double* value, const std::string& help,
                       const detail::OptionRange& r) {
    return app
        ->add_option(
            name, [](const CLI::results_t&) { return true; }, help)
        ->type_name("FLOAT")
        ->check(finiteIn(r, value));
}

// A rate the device plays; described by the set of them, for the help and completions.
CLI::Validator deviceRate() {
    std::string set, words;
    for (std::size_t i = 0; i < kAcceptedRates.size(); ++i) {
        const std::string rate = std::to_string(kAcceptedRates[i]);
        set += (i == 0 ? "" : ",") + rate;
        words += (i == 0 ? "" : i + 1 == kAcceptedRates.size() ? " or " : ", ") + rate;
    }
    return CLI::Validator(
        [words](std::string& text) -> std::string {
            for (const uint32_t rate : kAcceptedRates) {
                if (text == std::to_string(rate)) return "";
            }
            return "'" + text + "' is not a rate the device plays: " + words + " (Hz)";
        },
        "{" + set + "}");
}

// The defaults of the options whose value may be left out: --normalize alone, --trim alone.
constexpr double kNormalizeDbfs = -1;
constexpr double kTrimDb = -50;

// A value as help shows it: -1, -50, 0.5.
std::string shown(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

bool isNumber(const char* text) {
    char* end = nullptr;
    std::strtod(text, &end);
    return end != text && *end == '\0';
}

// Adds a floating option whose value may be left out, shown as --name[=TEXT]; left out, it
// is `fallback`.
CLI::Option* addOptional(CLI::App* app, const char* name, double* value, const std::string& help,
                         const detail::OptionRange& r, const char* text, double fallback) {
    return addNumber(app, name, value, help, r)
        ->expected(0, 1)
        ->option_text(text)
        ->default_str(shown(fallback));
}

}  // namespace

void EncodeOptions::add(CLI::App* app, bool formats) {
    settings.level = kestrune::kDefaultLevel;
    app->add_option(
           "-r,--rate", settings.rate,
           "Device rate in Hz (default: the source's own when the device plays it, else the "
           "highest below it)")
        ->check(deviceRate());
    app->add_option("-b,--bits", settings.bits, "Code width: 4 or 2 (default 4)")
        ->check(CLI::IsMember({4, 2}));
    app->add_option("-q,--quality", settings.level,
                    "Search level 0-" + std::to_string(kestrune::kLevels - 1) +
                        "; 0 is the reference quantiser (default " +
                        std::to_string(kestrune::kDefaultLevel) + ")")
        ->check(CLI::Range(0, kestrune::kLevels - 1));
    app->add_option("--tune", tune,
                    "What the search minimises: perceptual (the error as heard, default) or "
                    "snr (plain squared error)")
        ->check(CLI::IsMember({"perceptual", "snr"}));
    app->add_flag("-w,--warnings-as-errors", settings.warningsAsErrors,
                  "A file with a warning fails and leaves no output");
    addShaping(app);
    if (!formats) return;
    std::vector<std::string> names;
    std::string help;
    for (const ContainerRow& row : containers()) {
        names.push_back(row.name);
        help += (help.empty() ? "" : ", or ") + std::string(row.help);
    }
    app->add_option("--format", format, help)->check(CLI::IsMember(names));
    app->add_option("--c-section", c.section, "Linker section for the C array");
    app->add_option("--c-align", c.align, "Alignment of the C array in bytes")
        ->check(
            CLI::IsMember({1u, 2u, 4u, 8u, 16u, 32u, 64u, 128u, 256u, 512u, 1024u, 2048u, 4096u}));
}

void EncodeOptions::addShaping(CLI::App* app) {
    app->add_option("--channel", settings.audio.channel,
                    "Take channel N (1 = first) instead of the mix")
        ->check(CLI::Range(1, 1 << 16));
    namespace d = detail;
    auto* gain =
        addNumber(app, "--gain", &settings.audio.gainDb, "Scale by DB first", d::kGainRange);
    auto* normal = addOptional(app, "--normalize", &normalize,
                               "Scale the peak to DBFS instead (default " + shown(kNormalizeDbfs) +
                                   "; --normalize=-3 or --normalize -3)",
                               d::kNormalizeRange, "[=DBFS]", kNormalizeDbfs)
                       ->excludes(gain);
    auto* lufs =
        addNumber(app, "--loudness", &loudness,
                  "Bring each file to this integrated loudness (EBU R128, LUFS)", d::kLoudnessRange)
            ->excludes(gain)
            ->excludes(normal);
    addNumber(app, "--speech-level", &speechLevel,
              "Bring each file to this active speech level (ITU-T P.56, dBov)",
              d::kSpeechLevelRange)
        ->excludes(gain)
        ->excludes(normal)
        ->excludes(lufs);
    addNumber(app, "--peak", &peak,
              "Peak ceiling for a levelled file, kept by a limiter (default " +
                  shown(d::defaultPeakDbfs(4)) + ", 2-bit " + shown(d::defaultPeakDbfs(2)) + ")",
              d::kPeakRange);
    addOptional(
        app, "--trim", &trim,
        "Cut leading and trailing silence below DB from the peak (default " + shown(kTrimDb) + ")",
        d::kTrimRange, "[=DB]", kTrimDb);
    addNumber(app, "--trim-margin", &settings.levelling.trimMarginMs,
              "Silence kept before and after the sound (default " +
                  shown(d::Levelling{}.trimMarginMs) + ")",
              d::kTrimMarginRange);
}

void EncodeOptions::finish(const CLI::App& app) {
    detail::Levelling& l = settings.levelling;
    if (app.count("--normalize") > 0) settings.audio.normalizeDbfs = normalize;
    if (app.count("--loudness") > 0) l.loudnessLufs = loudness;
    if (app.count("--speech-level") > 0) l.speechLevelDb = speechLevel;
    if (app.count("--peak") > 0) l.peakDbfs = peak;
    if (app.count("--trim") > 0) l.trimDb = trim;
    settings.tune = tune == "snr" ? kestrune::Tune::snr : kestrune::Tune::perceptual;
    settings.container = &containerNamed(format);
    if (format == "c") settings.containerOptions = c;
    const bool placed = !c.section.empty() || c.align > 0;
    if (placed && format != "c") {
        throw UsageError{"--c-section and --c-align go with --format c"};
    }
    if (!c.section.empty() && !cSectionNameValid(c.section)) {
        throw UsageError{"--c-section: '" + c.section +
                         "' is not a section name (letters, digits, '_', '.' and '$')"};
    }
}

std::string nearestName(const std::string& given, const std::vector<std::string>& names) {
    std::string near;
    std::size_t best = 0;
    for (const std::string& c : names) {
        // One letter dropped, added, changed or swapped, or a prefix; the most in common.
        const std::size_t common = static_cast<std::size_t>(
            std::mismatch(given.begin(), given.end(), c.begin(), c.end()).first - given.begin());
        const std::size_t tail = static_cast<std::size_t>(
            std::mismatch(given.rbegin(), given.rend(), c.rbegin(), c.rend()).first -
            given.rbegin());
        const bool close =
            common + tail + 2 >= std::max(given.size(), c.size()) || c.starts_with(given);
        if (close && (near.empty() || common + tail > best)) near = c, best = common + tail;
    }
    return near;
}

std::string nearestOption(const CLI::App& command, int argc, char** argv) {
    std::vector<std::string> names;
    for (const CLI::Option* o : command.get_options()) {
        for (const std::string& n : o->get_lnames()) names.push_back("--" + n);
    }
    for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const std::string given(argv[i], std::strcspn(argv[i], "="));
        if (given.size() > 2 && given.starts_with("--") &&
            std::find(names.begin(), names.end(), given) == names.end()) {
            if (std::string near = nearestName(given, names); !near.empty()) return near;
        }
    }
    return "";
}

std::vector<std::string> normalizedArguments(int argc, char** argv, const CLI::App& app) {
    const CLI::App* command = nullptr;
    if (argc > 1 && argv[1][0] != '-') {
        const std::string given = argv[1];
        std::vector<std::string> names;
        std::string list;
        for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
            names.push_back(sub->get_name());
            if (sub->get_name() == given) command = sub;
        }
        for (const std::string& name : names) {
            list += (list.empty() ? "" : name == names.back() ? " and " : ", ") + name;
        }
        if (command == nullptr) {
            const std::string near = nearestName(given, names);
            throw UsageError{"unknown command '" + given + "'" +
                             (near.empty() ? "" : " (did you mean '" + near + "'?)") +
                             "; the commands are " + list};
        }
    }
    // An option whose value may be left out, as the command defines it.
    const auto optional = [command](const char* arg) -> const CLI::Option* {
        if (command == nullptr || std::strncmp(arg, "--", 2) != 0) return nullptr;
        const CLI::Option* o = command->get_option_no_throw(arg);
        return o != nullptr && o->get_expected_min() == 0 && o->get_expected_max() == 1 ? o
                                                                                        : nullptr;
    };
    std::vector<std::string> args;
    for (int i = argc - 1; i > 0; --i) {
        if (const CLI::Option* o = optional(argv[i])) {
            const bool value = i + 1 < argc && isNumber(argv[i + 1]);
            if (value) args.pop_back();
            args.push_back(std::string(argv[i]) + "=" +
                           (value ? std::string(argv[i + 1]) : o->get_default_str()));
        } else {
            args.push_back(argv[i]);
        }
    }
    return args;
}

// Help that shows an option whose value is optional as it is written: --normalize[=DBFS].
std::string Formatter::make_option_opts(const CLI::Option* opt) const {
    if (opt->get_expected_min() == 0 && !opt->get_option_text().empty()) {
        return opt->get_option_text();
    }
    return CLI::Formatter::make_option_opts(opt);
}

// The description in lines that end within 100 columns, each after the names' column.
std::string Formatter::make_option_desc(const CLI::Option* opt) const {
    const std::size_t width = 100 - get_column_width();
    std::string out, line;
    std::istringstream words(opt->get_description());
    for (std::string word; words >> word;) {
        if (!line.empty() && line.size() + 1 + word.size() > width) out += line + "\n", line = "";
        line += (line.empty() ? "" : " ") + word;
    }
    return out + line;
}

}  // namespace kestrune::tool
