#include "tool/report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>

#include "io/outputFile.h"
#include "io/status.h"
#include "tool/paths.h"

namespace kestrune::tool {

namespace {

FILE* toolMessages = nullptr;
int standardOutputError = 0;  // errno of the first failed write
bool standardOutputClosed = false;

}  // namespace

namespace {

// The length of the character that starts at `at` when it is one a terminal shows (UTF-8,
// neither a control character nor an overlong or surrogate form), else 0.
std::size_t shownLength(const std::string& s, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned c = byte(at);
    if (c >= 0x20 && c < 0x7f) return 1;
    if (c < 0xc2 || c > 0xf4) return 0;
    const std::size_t n = c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
    if (at + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(at + k) & 0xc0) != 0x80) return 0;
    }
    const unsigned next = byte(at + 1);
    const bool bad = (c == 0xc2 && next < 0xa0) || (c == 0xe0 && next < 0xa0) ||
                     (c == 0xed && next >= 0xa0) || (c == 0xf0 && next < 0x90) ||
                     (c == 0xf4 && next >= 0x90);
    return bad ? 0 : n;
}

}  // namespace

std::string quoted(const std::string& path) {
    bool plain = true;
    for (std::size_t i = 0, n; plain && i < path.size(); i += n)
        plain = (n = shownLength(path, i)) > 0;
    if (plain) return path;
    std::string out;
    char open = 0;  // the quoting in force: '\'' for '...', '$' for $'...'
    for (std::size_t i = 0; i < path.size();) {
        const std::size_t n = shownLength(path, i);
        const char want = n > 0 ? '\'' : '$';
        if (open != want) {
            if (open != 0) out += '\'';
            out += want == '$' ? "$'" : "'";
            open = want;
        }
        if (n == 0) {
            static constexpr char kNamed[] = "abtnvfr";
            const auto c = static_cast<unsigned char>(path[i++]);
            char escape[8];
            if (c >= 7 && c <= 13) {
                std::snprintf(escape, sizeof escape, "\\%c", kNamed[c - 7]);
            } else {
                std::snprintf(escape, sizeof escape, "\\%03o", c);
            }
            out += escape;
        } else {
            out += path[i] == '\'' ? "'\\''" : path.substr(i, n);
            i += n;
        }
    }
    return out + "'";
}

void reserveStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0 && null != fd) {  // the lowest free descriptor: it is fd
            dup2(null, fd);
            close(null);
        }
        if (fd == STDOUT_FILENO) standardOutputClosed = true;
    }
}

FILE* messages() {
    return toolMessages != nullptr ? toolMessages : stderr;
}

void silenceLibraries() {
    if (toolMessages != nullptr) return;
    toolMessages = stderr;
    if (FILE* null = std::fopen("/dev/null", "w")) stderr = null;
}

void printFailure(const std::string& path, const std::string& why) {
    std::fprintf(messages(), "%s: %s: %s\n", kTool, quoted(path).c_str(), why.c_str());
}

void printFailure(const FileResult& r) {
    printFailure(r.failurePath.empty() ? r.input : r.failurePath, r.failure.reason);
}

void printWarnings(const FileResult& r) {
    for (const std::string& w : r.warnings) {
        std::fprintf(messages(), "%s: %s: warning: %s\n", kTool, quoted(r.input).c_str(),
                     w.c_str());
    }
}

std::string decibels(std::optional<double> v, const char* unit) {
    if (!v || !std::isfinite(*v)) return "n/a";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f%s", *v, unit);
    return buf;
}

Json rounded(std::optional<double> v, int decimals) {
    if (!v || !std::isfinite(*v)) return nullptr;
    const double scale = std::pow(10.0, decimals);
    return std::round(*v * scale) / scale;
}

Json conversionJson(const FileResult& r, int bits) {
    const auto known = [&](Json v) { return r.ok() && !r.skipped ? v : Json(nullptr); };
    return Json{{"input", r.input},
                {"output", r.ok() ? Json(r.output) : Json(nullptr)},
                {"ok", r.ok()},
                {"skipped", r.skipped},
                {"error", r.ok() ? Json(nullptr) : Json(r.failure.reason)},
                {"rate", known(r.rate)},
                {"bits", bits != 0 ? Json(bits) : Json(nullptr)},
                {"samples", known(r.samples)},
                {"bytes", known(r.bytes)},
                {"warnings", r.warnings}};
}

std::string jsonText(const Json& j) {
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void printJson(const std::vector<Json>& objects) {
    std::string out = "[";
    for (std::size_t i = 0; i < objects.size(); ++i) {
        out += (i == 0 ? "\n  " : ",\n  ") + jsonText(objects[i]);
    }
    out += objects.empty() ? "]\n" : "\n]\n";
    writeStandardOutput(out);
}

void writeStandardOutput(const std::string& text) {
    if (standardOutputClosed && !text.empty() && standardOutputError == 0) {
        standardOutputError = EBADF;
    }
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() &&
        standardOutputError == 0) {
        standardOutputError = errno != 0 ? errno : EIO;
    }
}

int finishStandardOutput(int status) {
    if (standardOutputError == 0 && std::fflush(stdout) != 0) standardOutputError = errno;
    if (std::fclose(stdout) != 0 && standardOutputError == 0) standardOutputError = errno;
    if (standardOutputError == 0) return status;
    std::fprintf(messages(), "%s: standard output: %s\n", kTool,
                 std::strerror(standardOutputError));
    return 1;
}

int exitStatus(const std::vector<FileResult>& results) {
    for (const FileResult& r : results) {
        if (!r.ok()) return 1;
    }
    return 0;
}

std::string mixedRates(const std::vector<FileResult>& results) {
    std::map<uint32_t, std::size_t, std::greater<>> rates;
    double bytes = 0, atLowest = 0;
    for (const FileResult& r : results) {
        if (r.ok() && r.rate > 0) ++rates[r.rate], bytes += static_cast<double>(r.bytes);
    }
    if (rates.size() < 2) return "";
    const uint32_t lowest = rates.rbegin()->first;
    std::string each;
    std::size_t files = 0;
    for (const auto& [rate, n] : rates) {
        each +=
            (each.empty() ? "" : ", ") + std::to_string(n) + " at " + std::to_string(rate) + " Hz";
        files += n;
    }
    for (const FileResult& r : results) {
        if (r.ok() && r.rate > 0) atLowest += static_cast<double>(r.bytes) * lowest / r.rate;
    }
    char text[96];
    std::snprintf(text, sizeof text, "): %.1f times the bytes they take with -r %u",
                  bytes / std::max(atLowest, 1.0), lowest);
    return std::to_string(files) + " files came out at " + std::to_string(rates.size()) +
           " rates (" + each + text;
}

void printBatchEnd(const std::vector<FileResult>& results, bool quiet, const char* done,
                   const std::vector<std::string>& batchWarnings) {
    std::size_t failed = 0, skipped = 0, warnings = 0;
    for (const FileResult& r : results) {
        failed += !r.ok();
        skipped += r.skipped;
        if (r.ok()) warnings += r.warnings.size();
    }
    for (const std::string& w : batchWarnings) {
        if (w.empty()) continue;
        ++warnings;
        if (!quiet) std::fprintf(messages(), "%s: warning: %s\n", kTool, w.c_str());
    }
    if (quiet && warnings > 0) {
        std::fprintf(messages(), "%s: %zu warning%s not shown (--quiet)\n", kTool, warnings,
                     warnings == 1 ? "" : "s");
    } else if (!quiet && results.size() > 1) {
        std::fprintf(messages(), "%zu files: %zu %s, %zu failed, %zu skipped\n", results.size(),
                     results.size() - failed - skipped, done, failed, skipped);
    }
}

bool writeWhole(const std::string& path, const std::string& bytes, bool replace) {
    detail::OutputFile out;
    int status = detail::outputOpen(&out, path.c_str(), nullptr, replace);
    if (status == kStatusFinished &&
        std::fwrite(bytes.data(), 1, bytes.size(), out.fp) != bytes.size()) {
        const std::string why = std::strerror(errno);
        detail::outputDiscard(&out);
        out.problem = why;
        status = kStatusWrite;
    }
    if (status == kStatusFinished) status = detail::outputCommit(&out);
    if (status == kStatusFinished) return true;
    printFailure(path, status == kStatusOutputExists ? "exists (use -f to replace it)"
                                                     : "cannot write: " + out.problem);
    return false;
}

}  // namespace kestrune::tool
