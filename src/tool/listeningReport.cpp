// The listening report: one HTML page holding every prompt's device file and source, the
// numbers of each, and the script that draws and plays them (listeningPage.html).
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>

#include "adpFile.h"
#include "codec/adpcm.h"
#include "tool/commands.h"
#include "tool/listening.h"
#include "tool/options.h"
#include "tool/paths.h"
#include "tool/report.h"

extern const char* const kListeningPage;

namespace {

std::string base64(const std::vector<uint8_t>& bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t n = uint32_t{bytes[i]} << 16 |
                           (i + 1 < bytes.size() ? uint32_t{bytes[i + 1]} << 8 : 0) |
                           (i + 2 < bytes.size() ? bytes[i + 2] : 0);
        out += kDigits[n >> 18 & 63];
        out += kDigits[n >> 12 & 63];
        out += i + 1 < bytes.size() ? kDigits[n >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

// The decoder's steps for a variant, as the page applies them: for each step row and
// code, how far the estimate moves and the row that follows.
Json decoderSteps(uint8_t variant) {
    const int codes = 1 << length[variant];
    Json offset = Json::array(), next = Json::array();
    for (int16_t row = 0; row <= kPointerMax; ++row) {
        for (int code = 0; code < codes; ++code) {
            const uint8_t magnitude = codeMagnitude(variant, static_cast<uint8_t>(code));
            const int32_t move = reconstructionOffset(variant, deltrom[row][variant], magnitude);
            offset.push_back(code & sign_bit[variant] ? -move : move);
            next.push_back(nextPointer(variant, row, magnitude));
        }
    }
    return Json{{"offset", offset}, {"next", next}};
}

void fill(std::string* page, const std::string& mark, const std::string& text) {
    page->replace(page->find(mark), mark.size(), text);
}

}  // namespace

bool writeListeningReport(const std::string& path, bool replace,
                          const std::vector<FileResult>& results, const std::string& level) {
    Json prompts = Json::array();
    std::string audio;
    for (const FileResult& r : results) {
        if (!r.ok() || !r.listening) continue;
        const Listening& l = *r.listening;
        const std::size_t i = prompts.size();
        const double trimmed = r.trimStartMs.value_or(0) + r.trimEndMs.value_or(0);
        prompts.push_back(Json{
            {"name", stemOf(r.input)},
            {"input", r.input},
            {"seconds", r.seconds()},
            {"fileBytes", l.device.size()},
            {"bits", r.bits},
            {"rate", r.rate},
            {"level", level.empty() ? Json(nullptr) : Json(level)},
            {"snr", rounded(r.snrDb, 2)},
            {"segsnr", rounded(r.segSnrDb, 2)},
            {"wsnr", rounded(r.weightedSnrDb, 2)},
            {"lufsIn", rounded(r.loudnessIn ? r.loudnessIn : l.sourceLufs, 2)},
            {"lufsOut", rounded(l.playedLufs, 2)},
            {"peak", rounded(l.peakDbfs, 2)},
            {"clipped", r.clipped},
            {"limited", r.limited ? Json(*r.limited) : Json(nullptr)},
            {"trimmed", r.trimStartMs ? Json(std::round(trimmed)) : Json(nullptr)},
            {"warnings", r.warnings},
            {"source", !l.source.empty()},
        });
        audio += "<script type=\"text/plain\" id=\"d" + std::to_string(i) + "\">" +
                 base64(l.device) + "</script>\n";
        if (!l.source.empty()) {
            audio += "<script type=\"text/plain\" id=\"s" + std::to_string(i) + "\">" +
                     base64(l.source) + "</script>\n";
        }
    }
    const Json data{
        {"tool", std::string(kTool) + " " + KESTRUNE_VERSION},
        {"header", kAdpHeaderSize},
        {"decoder", {{"4", decoderSteps(kVariant4Bit)}, {"2", decoderSteps(kVariant2Bit)}}},
        {"prompts", prompts}};
    // Inside a script element, "</" could end it early.
    std::string json = data.dump();
    for (std::size_t at = 0; (at = json.find("</", at)) != std::string::npos; at += 3) {
        json.replace(at, 2, "<\\/");
    }
    std::string page = kListeningPage;
    fill(&page, "/*KESTRUNE_DATA*/", json);
    fill(&page, "<!--KESTRUNE_AUDIO-->", audio);
    return writeWhole(path, page, replace);
}

int runReport(const Common& c, const std::string& report, const std::string& sourceList,
              const EncodeSettings& settings) {
    if (report.empty() || report == "-") throw UsageError{"the report needs a file name"};
    if (std::count(c.inputs.begin(), c.inputs.end(), "-") > 0) {
        throw UsageError{"the report reads device files, not standard input"};
    }
    // The list: lines of "DEVICE<tab>SOURCE"; other device files look beside themselves.
    std::map<std::string, std::string> named;
    if (!sourceList.empty()) {
        std::ifstream list(sourceList);
        if (!list) throw UsageError{quoted(sourceList) + ": cannot open: " + std::strerror(errno)};
        for (std::string line; std::getline(list, line);) {
            const std::size_t tab = line.find('\t');
            if (tab != std::string::npos) named[line.substr(0, tab)] = line.substr(tab + 1);
        }
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
