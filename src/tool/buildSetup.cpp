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
// name, so that a value is checked as on the command line.
bool promptSettings(const EncodeSettings& set, const ManifestPrompt& p, const std::string& path,
                    BuildItem* item, std::string* problem) {
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
            *problem = cellProblem(path, cell, e.what());
            return false;
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
    return true;
}

}  // namespace

bool setUpBuild(const BuildArgs& a, const EncodeSettings& set, BuildSetup* s) {
    std::string text, problem;
    const auto fail = [](const std::string& why) {
        std::fprintf(messages(), "%s: %s\n", kTool, why.c_str());
        return false;
    };
    if (!readWholeFile(a.manifest, &text, &problem))
        return fail(tool::quoted(a.manifest) + ": " + problem);
    if (!parseManifest(text, a.manifest, &s->manifest, &problem)) return fail(problem);
    const std::string folder = folderOf(a.manifest);
    s->lockPath = folder + stemOf(a.manifest) + ".lock";
    struct stat st {};
    if (stat(s->lockPath.c_str(), &st) == 0) {
        if (!readWholeFile(s->lockPath, &s->lockText, &problem)) {
            return fail(tool::quoted(s->lockPath) + ": " + problem);
        }
        if (!parseLock(s->lockText, s->lockPath, &s->oldLock, &problem)) return fail(problem);
    }
    std::vector<std::string> names;
    for (const ManifestPrompt& p : s->manifest.prompts) names.push_back(p.name.value);
    if (!assignIds(s->oldLock, names, &s->lock, &problem))
        return fail(s->lockPath + ": " + problem);
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
        if (!promptSettings(set, p, a.manifest, &base, &problem)) return fail(problem);
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
                std::string bytes;
                if (!readWholeFile(item.recording, &bytes, &problem)) {
                    ok = fail(cellProblem(
                        a.manifest, item.where,
                        "the recording " + tool::quoted(item.recording) + ": " + problem));
                    continue;
                }
                item.sourceKey = fnv1a64(bytes, fnv1a64("recording"));
            } else if (item.text.empty()) {
                ok = fail(cellProblem(a.manifest, item.where,
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
