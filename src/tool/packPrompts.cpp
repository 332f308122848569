#include "tool/packPrompts.h"

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
#include "tool/packPrompts.h"
#include "tool/paths.h"
#include "tool/report.h"

namespace kestrune::tool {

namespace {

std::string descriptorPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

// The prompts in ID order. With a list and inputs, each entry names a prompt, found among
// the inputs by their names without extension (the entry's own cut too, when it has one);
// a list alone holds paths, relative to its folder; inputs alone are sorted by name.
// False, told, on a fault.
bool packPrompts(const Common& c, const PackArgs& p, std::vector<Prompt>* prompts) {
    std::vector<std::string> entries;
    if (!p.list.empty()) {
        detail::Outcome<std::vector<std::string>> read = readListFile(p.list);
        if (!read) {
            printFailure(p.list, read.failure().reason);
            return false;
        }
        entries = std::move(*read);
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
            printFailure(p.list, "no input for prompt '" + e + "'");
            return false;
        }
        for (std::size_t i = 0; i < c.inputs.size(); ++i) {
            if (!named(c.inputs[i])) continue;
            used[i] = true;
            prompts->push_back({name, c.inputs[i], c.inputs[i], -1, false, {}, {}});
        }
    }
    if (const auto left = std::find(used.begin(), used.end(), false); left != used.end()) {
        printFailure(c.inputs[static_cast<std::size_t>(left - used.begin())],
                     "not named in " + p.list);
        return false;
    }
    return true;
}

// Opens a prompt's input once: one that is not a regular file is held in a copy; a device
// file's header is read and checked, through the reader info and decode use.
bool openPrompt(Prompt* pr) {
    FileResult& r = pr->result;
    r.input = pr->input;
    detail::InputFile from(pr->input);
    if (!from.opened) return r.fail(from.opened.failure()).ok();
    if (!S_ISREG(from.st.st_mode)) {
        const detail::Outcome<int> held = detail::inputHeldCopy(fileno(from.fp));
        if (!held) return r.fail(kStatusRead, held.failure().reason).ok();
        pr->held = *held;
        pr->path = descriptorPath(pr->held);
    }
    detail::InputFile in(pr->path);
    if (!in.opened) return r.fail(in.opened.failure()).ok();
    uint8_t mark[sizeof kAdpMark] = {};
    pr->device = std::fread(mark, 1, sizeof mark, in.fp) == sizeof mark &&
                 std::memcmp(mark, kAdpMark, sizeof mark) == 0;
    if (!pr->device) return true;
    std::rewind(in.fp);
    AdpInfo info{};
    if (detail::Done checked = checkDeviceFile(in.fp, in.st, &info); !checked) {
        return r.fail(checked.failure()).ok();
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
detail::Done writeImage(FILE* to, const ImageLayout& layout, const std::vector<Prompt>& prompts) {
    const auto put = [&](const void* bytes, std::size_t n) {
        return std::fwrite(bytes, 1, n, to) == n;
    };
    const auto writeFailed = [] { return detail::Failure::ofErrno(kStatusWrite); };
    std::vector<uint8_t> index = imageIndex(layout);
    if (!put(index.data(), index.size())) return writeFailed();
    uint64_t at = index.size();
    std::vector<uint8_t> block(1 << 16);
    for (std::size_t i = 0; i < prompts.size(); ++i) {
        std::fill(block.begin(), block.end(), 0);
        if (!put(block.data(), layout.offsets[i] - at)) return writeFailed();
        at = layout.offsets[i] + layout.lengths[i];
        if (!prompts[i].device) {
            if (!put(prompts[i].encoded.data(), prompts[i].encoded.size())) return writeFailed();
            continue;
        }
        detail::InputFile from(prompts[i].path);
        for (uint64_t left = layout.lengths[i]; left > 0;) {
            const std::size_t n =
                from.fp == nullptr
                    ? 0
                    : std::fread(block.data(), 1, std::min<uint64_t>(left, block.size()), from.fp);
            if (n == 0)
                return detail::Failure{kStatusRead,
                                       prompts[i].input + " changed while it was read"};
            if (!put(block.data(), n)) return writeFailed();
            left -= n;
        }
    }
    return {};
}

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

}  // namespace kestrune::tool
