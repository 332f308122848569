#include "tool/buildManifest.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "tool/cSource.h"
#include "tool/paths.h"

namespace kestrune::tool {

namespace {

using Row = std::vector<ManifestCell>;

// Reads RFC 4180 records, tracking where each field starts. Lines end with LF or CRLF; a
// quoted field may hold commas, line ends and doubled quotes.
class CsvReader {
public:
    explicit CsvReader(std::string_view text) : text_(text) {
        if (text_.starts_with("\xEF\xBB\xBF")) at_ = 3;  // a byte-order mark
    }
    bool done() const { return at_ >= text_.size(); }
    std::string problem;
    std::size_t line = 1, column = 1;

    // The next record; false with problem (at line and column) when malformed.
    bool next(Row* row) {
        row->clear();
        for (;;) {
            ManifestCell cell{{}, line, column};
            if (!field(&cell.value)) return false;
            row->push_back(std::move(cell));
            if (done()) return true;
            const char c = text_[at_];
            if (c == ',') {
                advance(1);
                continue;
            }
            const std::size_t end = c == '\r' && peek(1) == '\n' ? 2 : c == '\n' ? 1 : 0;
            if (end == 0) return fail("a quoted field must end at a comma or the line's end");
            at_ += end, ++line, column = 1;
            return true;
        }
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;

    char peek(std::size_t ahead) const {
        return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0';
    }
    bool fail(std::string why) {
        problem = std::move(why);
        return false;
    }
    // Moves past n bytes of one line, counting characters (UTF-8 lead bytes).
    void advance(std::size_t n) {
        for (; n > 0; --n, ++at_) column += (static_cast<unsigned char>(text_[at_]) & 0xC0) != 0x80;
    }
    // Takes one UTF-8 character into out; false when the bytes are not one.
    bool character(std::string* out) {
        const auto b = static_cast<unsigned char>(text_[at_]);
        const std::size_t n = b < 0x80             ? 1
                              : (b & 0xE0) == 0xC0 ? 2
                              : (b & 0xF0) == 0xE0 ? 3
                              : (b & 0xF8) == 0xF0 ? 4
                                                   : 0;
        bool ok =
            n > 0 && at_ + n <= text_.size() && !(n == 2 && b < 0xC2) && !(n == 4 && b > 0xF4);
        for (std::size_t i = 1; ok && i < n; ++i) {
            ok = (static_cast<unsigned char>(text_[at_ + i]) & 0xC0) == 0x80;
        }
        if (ok && n == 3) {  // no overlong forms or surrogates
            const auto b1 = static_cast<unsigned char>(text_[at_ + 1]);
            ok = !(b == 0xE0 && b1 < 0xA0) && !(b == 0xED && b1 >= 0xA0);
        }
        if (ok && n == 4) {
            const auto b1 = static_cast<unsigned char>(text_[at_ + 1]);
            ok = !(b == 0xF0 && b1 < 0x90) && !(b == 0xF4 && b1 >= 0x90);
        }
        if (!ok) return fail("not UTF-8");
        out->append(text_.substr(at_, n));
        advance(n);
        return true;
    }
    bool field(std::string* out) {
        if (done() || text_[at_] != '"') {
            while (!done() && text_[at_] != ',' && text_[at_] != '\n' &&
                   !(text_[at_] == '\r' && peek(1) == '\n')) {
                if (text_[at_] == '"') return fail("a quote inside a field that is not quoted");
                if (!character(out)) return false;
            }
            return true;
        }
        const std::size_t openLine = line, openColumn = column;
        advance(1);
        for (;;) {
            if (done()) {
                line = openLine, column = openColumn;
                return fail("a quoted field is not closed");
            }
            if (text_[at_] == '"') {
                if (peek(1) != '"') {
                    advance(1);
                    return true;
                }
                out->push_back('"');
                advance(2);
            } else if (text_[at_] == '\n') {
                out->push_back('\n');
                ++at_, ++line, column = 1;
            } else if (!character(out)) {
                return false;
            }
        }
    }
};

bool isLanguage(const std::string& s) {
    // A code as voices and file names take it: en, de, pt-br, en_GB.
    const auto letters =
        std::find_if_not(s.begin(), s.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    const auto n = letters - s.begin();
    return n >= 2 && n <= 3 &&
           std::all_of(letters, s.end(),
                       [](char c) {
                           return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' ||
                                  c == '_';
                       }) &&
           (letters == s.end() || ((*letters == '-' || *letters == '_') && letters + 1 != s.end()));
}

std::string upperName(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// What each column is: the name, a language's recording or text, or an option.
enum class Kind { name, recording, text, option };
using Column = std::pair<Kind, std::string>;

// A fault in the manifest, at a cell.
detail::Failure fault(const std::string& path, const ManifestCell& at, const std::string& why) {
    return {kStatusFormat, cellProblem(path, at, why)};
}

detail::Outcome<std::vector<Column>> readHeader(const Row& header, Manifest* manifest) {
    const auto fail = [&](const ManifestCell& at, const std::string& why) {
        return fault(manifest->path, at, why);
    };
    std::vector<Column> columns;
    std::set<std::string> seen;
    for (const ManifestCell& h : header) {
        const std::string& v = h.value;
        if (!seen.insert(v).second) return fail(h, "column '" + v + "' appears twice");
        const bool text = v.ends_with(".text");
        const std::string language = text ? v.substr(0, v.size() - 5) : v;
        if (v == "name") {
            columns.emplace_back(Kind::name, v);
        } else if (std::find(std::begin(kManifestOptions), std::end(kManifestOptions), v) !=
                   std::end(kManifestOptions)) {
            columns.emplace_back(Kind::option, v);
        } else if (isLanguage(language)) {
            columns.emplace_back(text ? Kind::text : Kind::recording, language);
            if (std::find(manifest->languages.begin(), manifest->languages.end(), language) ==
                manifest->languages.end()) {
                manifest->languages.push_back(language);
            }
        } else {
            return fail(h, "unknown column '" + v +
                               "' (name, rate, bits, level, loudness, or a language code "
                               "LANG or LANG.text)");
        }
    }
    if (!seen.contains("name")) return fail(header[0], "no column 'name'");
    if (manifest->languages.empty()) return fail(header[0], "no language column (LANG, LANG.text)");
    return columns;
}

}  // namespace

std::string cellProblem(const std::string& path, const ManifestCell& cell, const std::string& why) {
    return path + ":" + std::to_string(cell.line) + ":" + std::to_string(cell.column) + ": " + why;
}

detail::Outcome<Manifest> parseManifest(std::string_view text, const std::string& path) {
    Manifest manifest{path, {}, {}};
    CsvReader csv(text);
    const auto fail = [&](const ManifestCell& at, const std::string& why) {
        return fault(path, at, why);
    };
    Row header, row;
    if (!csv.next(&header)) return fail({{}, csv.line, csv.column}, csv.problem);
    const detail::Outcome<std::vector<Column>> read = readHeader(header, &manifest);
    if (!read) return read.failure();
    const std::vector<Column>& columns = *read;
    std::map<std::string, ManifestCell> names;  // by constant, which is in capitals
    while (!csv.done()) {
        if (!csv.next(&row)) return fail({{}, csv.line, csv.column}, csv.problem);
        if (row.size() == 1 && row[0].value.empty()) continue;  // a blank line
        if (row.size() != header.size()) {
            return fail(row.back(), std::to_string(row.size()) + " fields; the header has " +
                                        std::to_string(header.size()));
        }
        ManifestPrompt p;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const auto& [kind, key] = columns[i];
            if (kind == Kind::name) p.name = row[i];
            if (kind == Kind::recording) p.recording[key] = row[i];
            if (kind == Kind::text) p.text[key] = row[i];
            if (kind == Kind::option && !row[i].value.empty()) p.options[key] = row[i];
        }
        const std::string& name = p.name.value;
        if (name.empty() || cIdentifier(name) != name) {
            return fail(p.name, "the name '" + name +
                                    "' is not a C identifier that is free to take (letters, "
                                    "digits and '_', not starting with a digit or '_', not "
                                    "reserved)");
        }
        const auto [at, fresh] = names.emplace(upperName(name), p.name);
        if (!fresh) {
            return fail(p.name, "the name '" + name + "' is taken on line " +
                                    std::to_string(at->second.line));
        }
        manifest.prompts.push_back(std::move(p));
    }
    return manifest;
}

}  // namespace kestrune::tool
