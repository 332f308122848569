// kestrune-adpcm: from any recording to the device's file, one file or a thousand, and
// back to WAV; and what a device file holds.
//
//   kestrune-adpcm encode [options] INPUT...
//   kestrune-adpcm decode [options] INPUT...
//   kestrune-adpcm info [--json] FILE...
//
// Errors go to standard error as "kestrune-adpcm: PATH: reason"; standard output carries
// only data (-o -) or what --json asks for. Exit status 0 when every file succeeded, 1
// when any failed, 2 for a usage error.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "adpFile.h"
#include "codec/search.h"
#include "tool/jobs.h"

namespace {

constexpr const char* kTool = "kestrune-adpcm";

struct UsageError {
    std::string message;
};

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The input's name without its extension.
std::string stemOf(const std::string& path) {
    const std::string name = path == "-" ? "stdin" : nameOf(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Where each input's output goes: -o, DIR/NAME.ext with -d, else NAME.ext beside it.
std::vector<std::string> planOutputs(const std::vector<std::string>& inputs,
                                     const std::string& output, const std::string& folder,
                                     const char* extension) {
    if (!output.empty() && inputs.size() != 1) throw UsageError{"-o takes a single input; use -d"};
    if (std::count(inputs.begin(), inputs.end(), "-") > 1) {
        throw UsageError{"standard input can be read only once"};
    }
    std::vector<std::string> outputs;
    for (const std::string& in : inputs) {
        if (!output.empty()) {
            outputs.push_back(output);
        } else if (!folder.empty()) {
            outputs.push_back(folder + (folder.back() == '/' ? "" : "/") + stemOf(in) + extension);
        } else if (in == "-") {
            throw UsageError{"standard input needs -o or -d"};
        } else {
            outputs.push_back(folderOf(in) + stemOf(in) + extension);
        }
    }
    return outputs;
}

// Escapes a string for JSON.
std::string quoted(const std::string& s) {
    std::string q = "\"";
    for (const unsigned char c : s) {
        if (c == '"' || c == '\\') {
            q += '\\';
            q += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            q += buf;
        } else {
            q += static_cast<char>(c);
        }
    }
    return q + "\"";
}

std::string number(std::optional<double> v, const char* format = "%.2f") {
    if (!v || !std::isfinite(*v)) return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, format, *v);
    return buf;
}

// A JSON object: keys and raw JSON values.
using JsonObject = std::vector<std::pair<const char*, std::string>>;

// Prints a JSON array of objects, one per result.
void printJson(const std::vector<JsonObject>& objects) {
    std::string out = "[";
    for (std::size_t i = 0; i < objects.size(); ++i) {
        out += i == 0 ? "\n  {" : ",\n  {";
        for (std::size_t k = 0; k < objects[i].size(); ++k) {
            out += (k == 0 ? "" : ", ") + quoted(objects[i][k].first) + ": " + objects[i][k].second;
        }
        out += "}";
    }
    out += objects.empty() ? "]\n" : "\n]\n";
    std::fputs(out.c_str(), stdout);
}

// The keys encode and decode share.
JsonObject conversionJson(const FileResult& r, int bits) {
    return {{"input", quoted(r.input)},
            {"output", r.ok ? quoted(r.output) : "null"},
            {"ok", r.ok ? "true" : "false"},
            {"error", r.ok ? "null" : quoted(r.error)},
            {"rate", std::to_string(r.rate)},
            {"bits", std::to_string(bits)},
            {"samples", std::to_string(r.samples)},
            {"bytes", std::to_string(r.bytes)}};
}

// Runs work(i) for every file on `jobs` threads, and hands the results to report in the
// files' order as they become ready. Outputs are committed (synced and renamed) on
// threads of their own, so that waiting for the disk overlaps the next conversions; each
// folder's new names are synced once, as the batch ends. On a terminal, a progress line is
// kept up to date meanwhile; `progressLine` renders it.
std::vector<FileResult> runAll(std::size_t files, unsigned jobs,
                               const std::function<FileResult(std::size_t)>& work,
                               const std::function<void(const FileResult&)>& report,
                               const std::function<std::string()>& progressLine) {
    std::vector<FileResult> results(files);
    std::vector<bool> ready(files, false);
    std::deque<std::size_t> toCommit;
    std::size_t committing = 0;  // taken from toCommit, not yet ready
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<std::size_t> next{0};
    std::size_t converted = 0;
    const std::size_t maxWaiting = 4 * std::size_t{jobs};  // temporary files at a time
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < std::min<std::size_t>(jobs, files); ++t) {
        threads.emplace_back([&] {
            for (std::size_t i; (i = next++) < files;) {
                FileResult r = work(i);
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return toCommit.size() + committing < maxWaiting; });
                const bool commit = r.uncommitted.fp != nullptr;
                results[i] = std::move(r);
                ++converted;
                if (commit) {
                    toCommit.push_back(i);
                } else {
                    ready[i] = true;
                }
                changed.notify_all();
            }
        });
    }
    for (unsigned t = 0; t < std::min<std::size_t>(jobs, files); ++t) {
        threads.emplace_back([&] {
            FolderSyncs folders;
            for (;;) {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return !toCommit.empty() || converted == files; });
                if (toCommit.empty()) return;
                const std::size_t i = toCommit.front();
                toCommit.pop_front();
                ++committing;
                lock.unlock();
                commitFile(&results[i], &folders);
                lock.lock();
                --committing;
                ready[i] = true;
                changed.notify_all();
            }
        });
    }
    bool drawn = false;
    for (std::size_t i = 0; i < files; ++i) {
        std::unique_lock<std::mutex> lock(mutex);
        while (!ready[i]) {
            if (progressLine) {
                lock.unlock();
                std::fprintf(stderr, "\r\033[K%s", progressLine().c_str());
                std::fflush(stderr);
                drawn = true;
                lock.lock();
            }
            changed.wait_for(lock, std::chrono::milliseconds(200));
        }
        lock.unlock();
        if (drawn) std::fputs("\r\033[K", stderr);
        drawn = false;
        report(results[i]);
    }
    {
        const std::lock_guard<std::mutex> lock(mutex);
        changed.notify_all();
    }
    for (std::thread& t : threads) t.join();
    return results;
}

std::string clock(double seconds) {
    const auto s = static_cast<long>(std::lround(seconds));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

// "3/10 files, 12.3 s of audio, 45.6x real time, 0:03 left"
std::function<std::string()> progressRenderer(const Progress& progress, std::size_t files) {
    const auto start = std::chrono::steady_clock::now();
    return [&progress, files, start] {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double audio = static_cast<double>(progress.audioMicroseconds) / 1e6;
        const double known = static_cast<double>(progress.knownMicroseconds) / 1e6;
        const uint32_t done = progress.filesDone;
        std::string line = std::to_string(done) + "/" + std::to_string(files) + " files, " +
                           number(audio, "%.1f") + " s of audio";
        if (elapsed > 0.5 && audio > 0) {
            const double speed = audio / elapsed;
            line += ", " + number(speed, "%.1f") + "x real time";
            // What is known of the files started, and the others as long as those.
            const double started = std::max<double>(done, 1);
            const double total = known + (known / started) * static_cast<double>(files - done);
            if (total > audio) line += ", " + clock((total - audio) / speed) + " left";
        }
        return line;
    };
}

int exitStatus(const std::vector<FileResult>& results) {
    for (const FileResult& r : results) {
        if (!r.ok) return 1;
    }
    return 0;
}

void printFailure(const FileResult& r) {
    std::fprintf(stderr, "%s: %s: %s\n", kTool, r.input.c_str(), r.error.c_str());
}

std::string outputName(const std::string& output) {
    return output == "-" ? "standard output" : output;
}

struct Common {
    std::vector<std::string> inputs;
    std::string output, folder;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    bool quiet = false, json = false;
};

void addCommon(CLI::App* app, Common* c, const char* inputHelp) {
    app->add_option("INPUT", c->inputs, inputHelp)->required();
    auto* o = app->add_option("-o,--output", c->output, "Output file (- for standard output)");
    app->add_option("-d,--directory", c->folder, "Folder for the outputs (NAME.ext each)")
        ->excludes(o);
    app->add_option("-j,--jobs", c->jobs, "Files converted at once (default: the cores)")
        ->check(CLI::Range(1u, 1024u));
    app->add_flag("--quiet", c->quiet, "No summary lines, warnings or progress");
    app->add_flag("--json", c->json, "Print a JSON array of the results on standard output");
}

// Creates the folder for -d, and those it is in, when missing.
void makeFolder(const std::string& folder) {
    if (folder.empty()) return;
    std::error_code ignored;  // a folder that cannot be made fails each file's output
    std::filesystem::create_directories(folder, ignored);
}

int runEncode(const Common& c, const EncodeSettings& settings) {
    if (c.json && c.output == "-") throw UsageError{"--json and -o - both want standard output"};
    const std::vector<std::string> outputs = planOutputs(c.inputs, c.output, c.folder, ".adp");
    makeFolder(c.folder);
    Progress progress;
    const bool showProgress = !c.quiet && isatty(STDERR_FILENO);
    std::map<std::string, std::size_t> claimed;  // outputs named twice fail after the first
    std::vector<std::string> clash(c.inputs.size());
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const auto [at, fresh] = claimed.emplace(outputs[i], i);
        if (!fresh && outputs[i] != "-") {
            clash[i] = "same output as " + c.inputs[at->second] + " (" + outputs[i] + ")";
        }
    }
    const auto results = runAll(
        c.inputs.size(), c.jobs,
        [&](std::size_t i) {
            FileResult r;
            if (clash[i].empty()) {
                r = encodeFile(settings, c.inputs[i], outputs[i], &progress);
            } else {
                r.input = c.inputs[i];
                r.error = clash[i];
            }
            ++progress.filesDone;
            return r;
        },
        [&](const FileResult& r) {
            if (!r.ok) return printFailure(r);
            if (r.clipped > 0) {
                std::fprintf(stderr, "%s: %s: warning: %llu samples clipped\n", kTool,
                             r.input.c_str(), static_cast<unsigned long long>(r.clipped));
            }
            if (c.quiet) return;
            std::fprintf(stderr,
                         "%s -> %s: %u Hz, %d-bit, %.2f s, %llu bytes, SNR %s dB, segSNR %s dB, "
                         "%llu clipped\n",
                         r.input.c_str(), outputName(r.output).c_str(), r.rate, r.bits, r.seconds(),
                         static_cast<unsigned long long>(r.bytes), number(r.snrDb, "%.1f").c_str(),
                         number(r.segSnrDb, "%.1f").c_str(),
                         static_cast<unsigned long long>(r.clipped));
        },
        showProgress ? progressRenderer(progress, c.inputs.size()) : nullptr);
    if (c.json) {
        std::vector<JsonObject> objects;
        for (const FileResult& r : results) {
            objects.push_back(conversionJson(r, settings.bits));
            objects.back().insert(objects.back().end(), {{"snr_db", number(r.snrDb)},
                                                         {"segsnr_db", number(r.segSnrDb)},
                                                         {"clipped", std::to_string(r.clipped)}});
        }
        printJson(objects);
    }
    return exitStatus(results);
}

int runDecode(const Common& c) {
    if (c.json && c.output == "-") throw UsageError{"--json and -o - both want standard output"};
    const std::vector<std::string> outputs = planOutputs(c.inputs, c.output, c.folder, ".wav");
    makeFolder(c.folder);
    Progress progress;
    const bool showProgress = !c.quiet && isatty(STDERR_FILENO);
    const auto results = runAll(
        c.inputs.size(), c.jobs,
        [&](std::size_t i) {
            FileResult r = decodeFile(c.inputs[i], outputs[i], &progress);
            ++progress.filesDone;
            return r;
        },
        [&](const FileResult& r) {
            if (!r.ok) return printFailure(r);
            if (c.quiet) return;
            std::fprintf(stderr, "%s -> %s: %u Hz, %d-bit, %.2f s, %llu samples\n", r.input.c_str(),
                         outputName(r.output).c_str(), r.rate, r.bits, r.seconds(),
                         static_cast<unsigned long long>(r.samples));
        },
        showProgress ? progressRenderer(progress, c.inputs.size()) : nullptr);
    if (c.json) {
        std::vector<JsonObject> objects;
        for (const FileResult& r : results) objects.push_back(conversionJson(r, r.bits));
        printJson(objects);
    }
    return exitStatus(results);
}

int runInfo(const std::vector<std::string>& files, bool json) {
    std::vector<FileResult> results;
    for (const std::string& f : files) results.push_back(inspectFile(f));
    if (json) {
        std::vector<JsonObject> objects;
        for (const FileResult& r : results) {
            objects.push_back({{"path", quoted(r.input)},
                               {"ok", r.ok ? "true" : "false"},
                               {"error", r.ok ? "null" : quoted(r.error)},
                               {"bits", r.ok ? std::to_string(r.bits) : "null"},
                               {"rate", r.ok ? std::to_string(r.rate) : "null"},
                               {"bytes", r.ok ? std::to_string(r.bytes) : "null"},
                               {"samples", r.ok ? std::to_string(r.samples) : "null"},
                               {"seconds", r.ok ? number(r.seconds(), "%.3f") : "null"}});
        }
        printJson(objects);
    }
    for (const FileResult& r : results) {
        if (!r.ok) {
            printFailure(r);
        } else if (!json) {
            std::printf("%s: %d-bit, %u Hz, %llu bytes, %llu samples, %.3f s\n", r.input.c_str(),
                        r.bits, r.rate, static_cast<unsigned long long>(r.bytes),
                        static_cast<unsigned long long>(r.samples), r.seconds());
        }
    }
    return exitStatus(results);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Converts recordings into the voice-playback device's ADPCM files and back.",
                 kTool};
    app.set_version_flag("--version", std::string(kTool) + " " + KESTRUNE_VERSION);
    app.require_subcommand(1);

    Common encodeCommon;
    EncodeSettings settings;
    double normalize = -1;
    CLI::App* encode =
        app.add_subcommand("encode", "Recordings of any common format to device files");
    addCommon(encode, &encodeCommon, "Recordings to convert (- for standard input)");
    encode->add_option("-r,--rate", settings.rate, "Device rate in Hz (default: see README)")
        ->check(CLI::IsMember(std::vector<uint32_t>(kAcceptedRates.begin(), kAcceptedRates.end())));
    encode->add_option("-b,--bits", settings.bits, "Code width: 4 or 2 (default 4)")
        ->check(CLI::IsMember({4, 2}));
    encode
        ->add_option("-q,--quality", settings.level,
                     "Search level 0-9; 0 is the reference quantiser (default " +
                         std::to_string(kDefaultSearchLevel) + ")")
        ->check(CLI::Range(0, kSearchLevels - 1));
    encode
        ->add_option("--channel", settings.audio.channel,
                     "Take channel N (1 = first) instead of the mix")
        ->check(CLI::Range(1, 1 << 16));
    auto* gain = encode->add_option("--gain", settings.audio.gainDb, "Scale by DB first");
    encode
        ->add_flag("--normalize{-1}", normalize,
                   "Scale the peak to DBFS instead (--normalize=DBFS; default -1)")
        ->excludes(gain);
    settings.level = kDefaultSearchLevel;

    Common decodeCommon;
    CLI::App* decode = app.add_subcommand("decode", "Device files to mono 16-bit WAV");
    addCommon(decode, &decodeCommon, "Device files to convert (- for standard input)");

    std::vector<std::string> infoFiles;
    bool infoJson = false;
    CLI::App* info = app.add_subcommand("info", "What device files hold");
    info->add_option("FILE", infoFiles, "Device files (- for standard input)")->required();
    info->add_flag("--json", infoJson, "Print a JSON array on standard output");

    try {
        app.parse(argc, argv);
        if (encode->parsed()) {
            if (encode->count("--normalize") > 0) settings.audio.normalizeDbfs = normalize;
            settings.measure = !encodeCommon.quiet || encodeCommon.json;  // shown only then
            return runEncode(encodeCommon, settings);
        }
        if (decode->parsed()) return runDecode(decodeCommon);
        return runInfo(infoFiles, infoJson);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "%s: %s (see %s --help)\n", kTool, e.what(), kTool);
        return 2;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s: %s\n", kTool, e.message.c_str());
        return 2;
    }
}
