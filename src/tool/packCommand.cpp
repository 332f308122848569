// kestrune-adpcm pack: recordings and device files into one image, with its C header and
// JSON manifest. Recordings are encoded as encode encodes them, into memory; device files
// are streamed into the image as they are. The image and the header are both made, or
// neither.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "adpFile.h"
#include "io/inputFile.h"
#include "io/outputFile.h"
#include "io/status.h"
#include "tool/batch.h"
#include "tool/cSource.h"
#include "tool/commands.h"
#include "tool/listFile.h"
#include "tool/options.h"
#include "tool/pack.h"
#include "tool/paths.h"
#include "tool/report.h"

namespace {

struct Prompt {
    std::string name, input;       // the prompt's name, and its input as given
    std::string path;              // where it is read: the input, or its held copy
    int held = -1;                 // the copy of a non-regular input (runPack closes it)
    bool device = false;           // a device file, taken as it is; else a recording
    std::vector<uint8_t> encoded;  // a recording's device file
    FileResult result;             // what its header says, or its encode's result
    uint64_t length() const { return device ? kAdpHeaderSize + result.bytes : encoded.size(); }
};

void tell(const std::string& path, const std::string& why) {
    std::fprintf(messages(), "%s: %s: %s\n", kTool, quoted(path).c_str(), why.c_str());
}

std::string descriptorPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// The prompts in ID order. With a list and inputs, each entry names a prompt, found among
// the inputs by their names without extension (the entry's own cut too, when it has one);
// a list alone holds paths, relative to its folder; inputs alone are sorted by name.
// False, told, on a fault.
bool packPrompts(const Common& c, const PackArgs& p, std::vector<Prompt>* prompts) {
    std::vector<std::string> entries;
    std::string problem;
    if (!p.list.empty() && !readListFile(p.list, &entries, &problem)) {
        tell(p.list, problem);
        return false;
    }
    if (p.list.empty()) {
        for (const std::string& in : c.inputs)
            prompts->push_back({stemOf(in), in, in, -1, false, {}, {}});
        std::stable_sort(prompts->begin(), prompts->end(),
                         [](const Prompt& a, const Prompt& b) { return a.name < b.name; });
        return true;
    }
    if (c.inputs.empty()) {
        const std::string folder = p.list.substr(0, p.list.rfind('/') + 1);
        for (const std::string& e : entries) {
            const std::string path = e[0] == '/' ? e : folder + e;
            prompts->push_back({stemOf(path), path, path, -1, false, {}, {}});
        }
        return true;
    }
    std::vector<bool> used(c.inputs.size(), false);
    for (const std::string& e : entries) {
        // The name as it is ("v1.2"), else without an extension ("a.wav").
        std::string name = e;
        const auto named = [&](const std::string& in) { return stemOf(in) == name; };
        if (std::none_of(c.inputs.begin(), c.inputs.end(), named)) name = stemOf(e);
        if (std::none_of(c.inputs.begin(), c.inputs.end(), named)) {
            tell(p.list, "no input for prompt '" + e + "'");
            return false;
        }
        for (std::size_t i = 0; i < c.inputs.size(); ++i) {
            if (!named(c.inputs[i])) continue;
            used[i] = true;
            prompts->push_back({name, c.inputs[i], c.inputs[i], -1, false, {}, {}});
        }
    }
    if (const auto left = std::find(used.begin(), used.end(), false); left != used.end()) {
        tell(c.inputs[static_cast<std::size_t>(left - used.begin())], "not named in " + p.list);
        return false;
    }
    return true;
}

// Opens a prompt's input once: one that is not a regular file is held in a copy; a device
// file's header is read and checked, through the reader info and decode use.
bool openPrompt(Prompt* pr) {
    FileResult& r = pr->result;
    r.input = pr->input;
    InputFile from(pr->input);
    if (!from.problem.empty()) return r.fail(kStatusInputOpen, from.problem).ok();
    if (!S_ISREG(from.st.st_mode)) {
        std::string why;
        pr->held = inputHeldCopy(fileno(from.fp), &why);
        if (pr->held < 0) return r.fail(kStatusRead, why).ok();
        pr->path = descriptorPath(pr->held);
    }
    InputFile in(pr->path);
    if (!in.problem.empty()) return r.fail(kStatusInputOpen, in.problem).ok();
    uint8_t mark[sizeof kAdpMark] = {};
    pr->device = std::fread(mark, 1, sizeof mark, in.fp) == sizeof mark &&
                 std::memcmp(mark, kAdpMark, sizeof mark) == 0;
    if (!pr->device) return true;
    std::rewind(in.fp);
    AdpInfo info{};
    std::string why;
    if (const int status = checkDeviceFile(in.fp, in.st, &info, &why); status != kStatusFinished) {
        return r.fail(status, why).ok();
    }
    describeDevice(&r, info);
    return true;
}

// Encodes a recording into memory, as encode would into a file.
FileResult encodePrompt(const EncodeSettings& settings, Prompt* pr, Progress* progress) {
    FileResult r = encodeToMemory(settings, pr->path, &pr->encoded, progress);
    r.input = pr->input;
    return r;
}

// Writes the image: its index, then each device file at its offset.
int writeImage(FILE* to, const ImageLayout& layout, const std::vector<Prompt>& prompts,
               std::string* problem) {
    const auto put = [&](const void* bytes, std::size_t n) {
        return std::fwrite(bytes, 1, n, to) == n;
    };
    std::vector<uint8_t> index = imageIndex(layout);
    if (!put(index.data(), index.size())) return kStatusWrite;
    uint64_t at = index.size();
    std::vector<uint8_t> block(1 << 16);
    for (std::size_t i = 0; i < prompts.size(); ++i) {
        std::fill(block.begin(), block.end(), 0);
        if (!put(block.data(), layout.offsets[i] - at)) return kStatusWrite;
        at = layout.offsets[i] + layout.lengths[i];
        if (!prompts[i].device) {
            if (!put(prompts[i].encoded.data(), prompts[i].encoded.size())) return kStatusWrite;
            continue;
        }
        InputFile from(prompts[i].path);
        for (uint64_t left = layout.lengths[i]; left > 0;) {
            const std::size_t n =
                from.fp == nullptr
                    ? 0
                    : std::fread(block.data(), 1, std::min<uint64_t>(left, block.size()), from.fp);
            if (n == 0) {
                *problem = prompts[i].input + " changed while it was read";
                return kStatusRead;
            }
            if (!put(block.data(), n)) return kStatusWrite;
            left -= n;
        }
    }
    return kStatusFinished;
}

}  // namespace

FileResult encodeToMemory(const EncodeSettings& settings, const std::string& path,
                          std::vector<uint8_t>* bytes, Progress* progress) {
    const int fd = memfd_create("kestrune-pack", MFD_CLOEXEC);
    FileResult r;
    if (fd < 0) {
        r.input = path;
        return r.fail(kStatusMemory,
                      std::string("cannot hold its device file: ") + std::strerror(errno));
    }
    r = encodeJob(settings, path, descriptorPath(fd), progress);
    commitFile(&r);
    struct stat st {};
    if (r.ok() && fstat(fd, &st) == 0) {
        bytes->resize(static_cast<std::size_t>(st.st_size));
        if (pread(fd, bytes->data(), bytes->size(), 0) != st.st_size) {
            r.fail(kStatusMemory, "cannot hold its device file");
        }
    }
    close(fd);
    return r;
}

int runPack(const CLI::App& app, Common c, const PackArgs& p, EncodeSettings settings) {
    if (c.inputs.empty() && p.list.empty()) throw UsageError{"pack needs prompts or --list"};
    if (app.count("--output") == 0 || c.output.empty()) throw UsageError{"pack needs -o IMAGE"};
    if (app.count("--header") > 0 && p.header.empty()) {
        throw UsageError{"--header needs a file name"};
    }
    if ((c.output == "-") + (p.header == "-") + c.json > 1) {
        throw UsageError{"the image, the header and --json all want standard output"};
    }
    std::vector<std::string> given = c.inputs;
    given.push_back(p.list);
    if (std::count(given.begin(), given.end(), "-") > 1) {
        throw UsageError{"standard input can be read only once"};
    }
    checkStandardInput(given);
    std::vector<Prompt> prompts;
    struct Held {
        std::vector<Prompt>& prompts;
        ~Held() {
            for (const Prompt& pr : prompts) {
                if (pr.held >= 0) close(pr.held);
            }
        }
    } held{prompts};
    if (!packPrompts(c, p, &prompts)) return 1;
    const std::string prefix = cIdentifier(
        !p.prefix.empty() ? p.prefix
                          : stemOf(p.header.empty() || p.header == "-" ? c.output : p.header));
    std::map<std::string, std::string> names;
    for (const Prompt& pr : prompts) {
        const auto [at, fresh] = names.emplace(promptConstant(prefix, pr.name), pr.input);
        if (!fresh) {
            tell(pr.input, "prompt name '" + pr.name + "' is also " + at->second + "'s");
            return 1;
        }
    }
    // Neither output may be an input or the other; both are opened before any work.
    std::vector<std::string> read, outputs = {c.output};
    for (const Prompt& pr : prompts) read.push_back(pr.input);
    if (!p.list.empty()) read.push_back(p.list);
    if (!p.header.empty()) outputs.push_back(p.header);
    const std::vector<std::string> conflicts = outputConflicts(read, outputs, 0);
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (!conflicts[i].empty()) {
            tell(outputName(outputs[i]), conflicts[i]);
            return 1;
        }
    }
    std::vector<OutputFile> opened(outputs.size());
    const auto discard = [&] {
        for (OutputFile& o : opened) outputDiscard(&o);
        return 1;
    };
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const int status = openOutput(&opened[i], outputs[i], nullptr, c.force);
        if (status != kStatusFinished) {
            FileResult r;
            r.input = r.output = outputs[i];
            outputFailed(&r, status, opened[i].problem);
            printFailure(r);
            return discard();
        }
    }

    // Device files are taken as they are, recordings encoded into memory.
    bool ok = true;
    std::vector<uint64_t> lengths;
    std::vector<Prompt*> toEncode;
    for (Prompt& pr : prompts) {
        if (!openPrompt(&pr)) {
            printFailure(pr.result);
            ok = false;
        } else if (!pr.device) {
            toEncode.push_back(&pr);
        }
        lengths.push_back(pr.device ? pr.length() : 0);
    }
    ImageLayout layout;
    std::string problem;
    if (ok && !planImage(lengths, p.align, &layout, &problem)) {
        tell(c.output, problem);
        return discard();
    }
    if (!ok) return discard();
    Common batch = c;
    batch.inputs.clear();
    for (const Prompt* pr : toEncode) batch.inputs.push_back(pr->input);
    settings.measure = !c.quiet || c.json;
    const std::string level = levelName(settings);
    Progress progress;
    const auto results = runBatch(
        batch, &progress,
        [&](std::size_t k) { return encodePrompt(settings, toEncode[k], &progress); },
        [&](const FileResult& r) {
            FileResult shown = r;
            shown.output = c.output;
            printEncodeSummary(shown, level);
        });
    std::vector<std::string> batchWarnings;
    if (settings.rate == 0) batchWarnings.push_back(mixedRates(results));
    printBatchEnd(results, c.quiet, "encoded", batchWarnings);
    if (exitStatus(results) != 0) return discard();
    for (std::size_t k = 0; k < toEncode.size(); ++k) toEncode[k]->result = results[k];
    lengths.clear();
    for (const Prompt& pr : prompts) lengths.push_back(pr.length());
    if (!planImage(lengths, p.align, &layout, &problem)) {
        tell(c.output, problem);
        return discard();
    }

    // The image and the header in full, then both committed.
    std::vector<std::string> promptNames;
    for (const Prompt& pr : prompts) promptNames.push_back(pr.name);
    int status = writeImage(opened[0].fp, layout, prompts, &problem);
    std::size_t failed = 0;
    if (status == kStatusFinished && outputs.size() > 1) {
        // Two headers included together need their own guards and prefixes.
        const std::string guard = "KESTRUNE_PACK_" + prefix +
                                  (p.header == "-" ? "" : "_" + cIdentifier(nameOf(p.header)));
        const std::string text = packHeader(prefix, guard, promptNames, layout, nameOf(c.output));
        failed = 1;
        if (std::fwrite(text.data(), 1, text.size(), opened[1].fp) != text.size()) {
            status = kStatusWrite;
        }
    }
    // Both written out before either is put in place, so that a full disk fails both.
    for (std::size_t i = 0; status == kStatusFinished && i < opened.size(); ++i) {
        failed = i;
        if (std::fflush(opened[i].fp) != 0) {
            status = kStatusWrite;
            problem = std::strerror(errno);
        }
    }
    for (std::size_t i = 0; status == kStatusFinished && i < opened.size(); ++i) {
        failed = i;
        status = outputCommit(&opened[i]);
        problem = opened[i].problem;
    }
    if (status != kStatusFinished) {
        FileResult r;
        r.input = r.output = outputs[failed];
        if (status == kStatusRead) {
            r.fail(status, problem);
        } else {
            outputFailed(&r, status, problem);
        }
        printFailure(r);
        return discard();
    }
    if (!c.quiet) {
        std::fprintf(messages(), "%s: %zu prompts, %llu bytes\n", outputName(c.output).c_str(),
                     prompts.size(), static_cast<unsigned long long>(layout.length));
    }
    if (c.json) {
        Json list = Json::array();
        for (std::size_t i = 0; i < prompts.size(); ++i) {
            Json o = {{"id", i},
                      {"name", prompts[i].name},
                      {"input", prompts[i].input},
                      {"offset", layout.offsets[i]},
                      {"length", layout.lengths[i]}};
            const FileResult& r = prompts[i].result;
            Json e = encodeJson(r, settings);
            if (prompts[i].device) e["bits"] = r.bits, e["level"] = e["tune"] = nullptr;
            for (const char* key : {"input", "output", "ok", "error"}) e.erase(key);
            o.update(e);
            list.push_back(std::move(o));
        }
        const Json manifest = {
            {"image", c.output}, {"count", prompts.size()}, {"align", p.align}, {"prompts", list}};
        writeStandardOutput(manifest.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
    }
    return 0;
}

int runUnpack(const Common& c) {
    if (c.inputs.size() != 1 || c.folder.empty()) throw UsageError{"unpack takes IMAGE -d DIR"};
    const JobInputs in = imagePrompts(c.inputs);
    if (!in.refused[0].empty() || in.lengths[0] == 0) {
        tell(c.inputs[0],
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
