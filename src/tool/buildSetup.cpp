// A build's prompts from its manifest and lock file: each prompt in each language with its
// settings, its source (a recording, or its text to speak) and its ID.
#include "tool/buildSetup.h"

#include <sys/stat.h>

#include "tool/commands.h"
#include "tool/listFile.h"
#include "tool/options.h"
#include "tool/paths.h"

namespace kestrune::tool {

namespace {

// The set's settings with the prompt's own columns, each read by the encode option of its
// name, so that a value is checked as on the command line. Fails (kStatusUsage) on a value
// the option refuses.
detail::Done promptSettings(const EncodeSettings& set, const ManifestPrompt& p,
                            const std::string& path, BuildItem* item) {
    item->settings = set;
    for (const auto& [key, cell] : p.options) {
        CLI::App app;
        EncodeOptions o;
        o.add(&app, false);
        const std::string flag = key == "level" ? "--quality" : "--" + key;
        try {
            app.parse(std::vector<std::string>{cell.value, flag});
            o.finish(app);
        } catch (const CLI::ParseError& e) {
            return detail::Failure{kStatusUsage, cellProblem(path, cell, e.what())};
        }
        EncodeSettings& s = item->settings;
        if (key == "rate") s.rate = o.settings.rate, item->pinnedRate = true;
        if (key == "bits") s.bits = o.settings.bits, item->pinnedBits = true;
        if (key == "level") s.level = o.settings.level;
        if (key == "loudness") {
            s.levelling.loudnessLufs = o.settings.levelling.loudnessLufs;
            s.levelling.speechLevelDb.reset();
            s.audio.gainDb = 0;
            s.audio.normalizeDbfs.reset();
        }
    }
    return {};
}

// The failure's reason, as the tool's message.
bool told(const std::string& why) {
    std::fprintf(messages(), "%s: %s\n", kTool, why.c_str());
    return false;
}

// Reads the manifest, the lock file beside it when there is one, and gives the manifest's
// prompts their IDs. The reason of a failure names the file.
detail::Done readManifestAndLock(const BuildArgs& a, BuildSetup* s) {
    const auto named = [](const std::string& path, const detail::Failure& f) {
        return detail::Failure{f.status, tool::quoted(path) + ": " + f.reason};
    };
    const detail::Outcome<std::string> text = readWholeFile(a.manifest);
    if (!text) return named(a.manifest, text.failure());
    detail::Outcome<Manifest> manifest = parseManifest(*text, a.manifest);
    if (!manifest) return manifest.failure();
    s->manifest = std::move(*manifest);
    s->lockPath = folderOf(a.manifest) + stemOf(a.manifest) + ".lock";
    struct stat st {};
    if (stat(s->lockPath.c_str(), &st) == 0) {
        detail::Outcome<std::string> lockText = readWholeFile(s->lockPath);
        if (!lockText) return named(s->lockPath, lockText.failure());
        s->lockText = std::move(*lockText);
        detail::Outcome<PromptLock> old = parseLock(s->lockText, s->lockPath);
        if (!old) return old.failure();
        s->oldLock = std::move(*old);
    }
    std::vector<std::string> names;
    for (const ManifestPrompt& p : s->manifest.prompts) names.push_back(p.name.value);
    detail::Outcome<PromptLock> lock = assignIds(s->oldLock, names);
    if (!lock) return detail::Failure{lock.status(), s->lockPath + ": " + lock.failure().reason};
    s->lock = std::move(*lock);
    return {};
}

}  // namespace

bool setUpBuild(const BuildArgs& a, const EncodeSettings& set, BuildSetup* s) {
    if (const detail::Done read = readManifestAndLock(a, s); !read)
        return told(read.failure().reason);
    const std::string folder = folderOf(a.manifest);
    const auto idOf = [&](const std::string& name) {
        for (const LockEntry& e : s->lock.entries) {
            if (e.name == name) return e.id;
        }
        return 0u;
    };
    const std::string speech = a.speech;
    s->items.reserve(s->manifest.prompts.size() * s->manifest.languages.size());
    for (const std::string& lang : s->manifest.languages) {
        s->languages.push_back({lang, std::vector<BuildItem*>(s->lock.count(), nullptr)});
    }
    bool ok = true;
    for (const ManifestPrompt& p : s->manifest.prompts) {
        BuildItem base;
        if (const detail::Done given = promptSettings(set, p, a.manifest, &base); !given) {
            return told(given.failure().reason);
        }
        base.name = p.name.value;
        base.id = idOf(base.name);
        for (std::size_t l = 0; l < s->manifest.languages.size(); ++l) {
            BuildItem item = base;
            item.lang = s->manifest.languages[l];
            const auto rec = p.recording.find(item.lang);
            const auto said = p.text.find(item.lang);
            if (said != p.text.end()) item.text = said->second.value;
            item.where = rec != p.recording.end() ? rec->second : p.name;
            if (rec != p.recording.end() && !rec->second.value.empty()) {
                const std::string& v = rec->second.value;
                item.recording = v[0] == '/' ? v : folder + v;
                const detail::Outcome<std::string> bytes = readWholeFile(item.recording);
                if (!bytes) {
                    ok = told(cellProblem(a.manifest, item.where,
                                          "the recording " + tool::quoted(item.recording) + ": " +
                                              bytes.failure().reason));
                    continue;
                }
                item.sourceKey = fnv1a64(*bytes, fnv1a64("recording"));
            } else if (item.text.empty()) {
                ok = told(cellProblem(a.manifest, item.where,
                                      item.shown() + " has neither a recording nor a text"));
                continue;
            } else {
                item.sourceKey =
                    fnv1a64(item.text, fnv1a64(item.lang, fnv1a64(speech, fnv1a64("speech"))));
            }
            item.key = encodingKey(item);
            s->items.push_back(std::move(item));
            s->languages[l].byId[s->items.back().id] = &s->items.back();
        }
    }
    return ok;
}

std::vector<std::string> placeholderReasons(const BuildArgs& a, const BuildSetup& s) {
    std::vector<std::string> reasons;
    for (const BuildItem& item : s.items) {
        if (!item.placeholder()) continue;
        if (a.noPlaceholders) {
            reasons.push_back(cellProblem(a.manifest, item.where,
                                          item.shown() + " has no recording (--no-placeholders)"));
        } else if (a.release) {
            reasons.push_back(cellProblem(a.manifest, item.where,
                                          item.shown() + " is a placeholder (--release)"));
        }
    }
    return reasons;
}

}  // namespace kestrune::tool
