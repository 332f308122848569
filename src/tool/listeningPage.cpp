#include "tool/listeningPage.h"

#include <cmath>
#include <string_view>

#include "adpFile.h"
#include "codec/adpcm.h"
#include "tool/listening.h"
#include "tool/paths.h"
#include "tool/report.h"

namespace kestrune::tool {

extern const char* const kListeningTemplate;

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

// JSON as the text of a script element. '<', '>' and '&', which only its strings can
// hold, become \u escapes: no "</script" can end the element and no "<!--" change how the
// rest of the page is read.
std::string scriptJson(const Json& data) {
    std::string out;
    for (const char c : jsonText(data)) {
        if (c == '<') {
            out += "\\u003c";
        } else if (c == '>') {
            out += "\\u003e";
        } else if (c == '&') {
            out += "\\u0026";
        } else {
            out += c;
        }
    }
    return out;
}

// The template with each mark replaced by its text, in one pass over the template, so
// that no text filled in is ever searched for a mark.
std::string filled(std::string_view page,
                   const std::vector<std::pair<std::string_view, std::string>>& marks) {
    std::string out;
    for (std::size_t at = 0;;) {
        std::size_t next = std::string_view::npos;
        const std::pair<std::string_view, std::string>* mark = nullptr;
        for (const auto& m : marks) {
            const std::size_t found = page.find(m.first, at);
            if (found < next) next = found, mark = &m;
        }
        if (mark == nullptr) return out.append(page.substr(at));
        out.append(page.substr(at, next - at)).append(mark->second);
        at = next + mark->first.size();
    }
}

}  // namespace

std::string listeningPage(const std::vector<FileResult>& results, const std::string& level) {
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
        {"tool", std::string(kTool) + " " + kestrune::version()},
        {"header", kAdpHeaderSize},
        {"decoder", {{"4", decoderSteps(kVariant4Bit)}, {"2", decoderSteps(kVariant2Bit)}}},
        {"prompts", prompts}};
    return filled(kListeningTemplate,
                  {{"/*KESTRUNE_DATA*/", scriptJson(data)}, {"<!--KESTRUNE_AUDIO-->", audio}});
}

bool writeListeningReport(const std::string& path, bool replace,
                          const std::vector<FileResult>& results, const std::string& level) {
    return writeWhole(path, listeningPage(results, level), replace);
}

}  // namespace kestrune::tool
