#include "support/testSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <thread>

namespace {

void putLe16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void putText(Bytes& b, const char* fourLetters) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(fourLetters[i]));
}

void putLe32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

Bytes chunk(const char* tag, const Bytes& body, bool pad, int64_t declared) {
    Bytes b;
    putText(b, tag);
    putLe32(b, static_cast<uint32_t>(declared >= 0 ? declared : static_cast<int64_t>(body.size())));
    b.insert(b.end(), body.begin(), body.end());
    if (pad && body.size() % 2 == 1) b.push_back(0);
    return b;
}

Bytes formatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    Bytes b;
    const auto align = static_cast<uint16_t>(channels * ((bits + 7) / 8));
    putLe16(b, tag);
    putLe16(b, channels);
    putLe32(b, rate);
    putLe32(b, rate * align);
    putLe16(b, align);
    putLe16(b, bits);
    return b;
}

Bytes sampleBytes(const Samples& samples) {
    Bytes b;
    for (const int16_t s : samples) putLe16(b, static_cast<uint16_t>(s));
    return b;
}

Bytes riff(const std::vector<Bytes>& chunks) {
    Bytes body;
    putText(body, "WAVE");
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes b;
    putText(b, "RIFF");
    putLe32(b, static_cast<uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes monoWave(const Samples& samples, uint32_t rate) {
    return riff({chunk("fmt ", formatBody(1, 1, rate, 16)), chunk("data", sampleBytes(samples))});
}

Bytes adpFile(uint32_t rate, bool fourBit, const Bytes& payload, int64_t declared) {
    const auto n = static_cast<uint32_t>(declared >= 0 ? declared : int64_t(payload.size()));
    Bytes b;
    putText(b, "Audi");
    putText(b, fourBit ? "\x80\x01\x01\x04" : "\x80\x00\x01\x02");
    for (const uint32_t v : {rate >> 8, rate, 0u, 0u, n >> 24, n >> 16, n >> 8, n}) {
        b.push_back(static_cast<uint8_t>(v));
    }
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Samples hostileSignal(std::size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> full(-32768, 32767), stretch(1, 1500);
    std::normal_distribution<double> noise(0, 500), quiet(0, 2);
    Samples s;
    while (s.size() < n) {
        const auto kind = rng() % 8;
        const int len = stretch(rng), dc = full(rng);
        for (int i = 0; i < len && s.size() < n; ++i) {
            const double t = static_cast<double>(s.size());
            const double v[] = {0,
                                static_cast<double>(dc),
                                9000 * std::sin(t * 0.05) + noise(rng),
                                static_cast<double>(full(rng)),
                                (i / 7) % 2 ? 32767.0 : -32768.0,
                                90000 * std::sin(t * 0.02),
                                i % 997 == 0 ? 32767.0 : 0,
                                quiet(rng)};
            s.push_back(static_cast<int16_t>(std::lround(std::clamp(v[kind], -32768.0, 32767.0))));
        }
    }
    return s;
}

FILE* memoryStream(const Bytes& bytes) {
    // fmemopen wants a non-empty buffer; an empty array gets a one-byte buffer of size 0.
    static uint8_t empty = 0;
    void* data = bytes.empty() ? &empty : const_cast<uint8_t*>(bytes.data());
    FILE* fp = fmemopen(data, bytes.size(), "rb");
    if (fp != nullptr && bytes.empty()) std::fseek(fp, 0, SEEK_END);
    return fp;
}

namespace {

struct ReadCookie {
    const Bytes* bytes;
    std::size_t at;
    bool failAtEnd;
};

ssize_t cookieRead(void* c, char* buf, size_t n) {
    auto* cookie = static_cast<ReadCookie*>(c);
    const std::size_t left = cookie->bytes->size() - cookie->at;
    // Hand out small pieces, as a pipe does.
    const std::size_t take = std::min({n, left, std::size_t{1000}});
    if (take == 0) return cookie->failAtEnd ? -1 : 0;
    std::memcpy(buf, cookie->bytes->data() + cookie->at, take);
    cookie->at += take;
    return static_cast<ssize_t>(take);
}

int cookieCloseRead(void* c) {
    delete static_cast<ReadCookie*>(c);
    return 0;
}

ssize_t cookieWrite(void* c, const char* buf, size_t n) {
    auto* sink = static_cast<Bytes*>(c);
    sink->insert(sink->end(), buf, buf + n);
    return static_cast<ssize_t>(n);
}

}  // namespace

FILE* pipeLikeStream(const Bytes& bytes, bool failAtEnd) {
    cookie_io_functions_t io{cookieRead, nullptr, nullptr, cookieCloseRead};
    return fopencookie(new ReadCookie{&bytes, 0, failAtEnd}, "rb", io);
}

FILE* pipeLikeSink(Bytes* sink) {
    cookie_io_functions_t io{nullptr, cookieWrite, nullptr, nullptr};
    return fopencookie(sink, "wb", io);
}

TempDir::TempDir() {
    char templ[] = "/tmp/kestrune-test.XXXXXX";
    const char* made = mkdtemp(templ);
    if (made == nullptr) std::abort();
    path = made;
    // Readable by the unprivileged user some tests run the tools as.
    chmod(path.c_str(), 0755);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path)) {
        names.push_back(e.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

RunResult runTool(const std::string& exe, const std::vector<std::string>& args,
                  const RunOptions& options) {
    // Standard output and error go to files; standard input is a pipe fed by a thread.
    char outName[] = "/tmp/kestrune-out.XXXXXX", errName[] = "/tmp/kestrune-err.XXXXXX";
    const int outFd = mkstemp(outName), errFd = mkstemp(errName);
    int in[2];
    if (outFd < 0 || errFd < 0 || pipe(in) != 0) return {-1, "", ""};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        dup2(options.stdinBytes != nullptr ? in[0] : open("/dev/null", O_RDONLY), STDIN_FILENO);
        for (const int fd : {outFd, errFd, in[0], in[1]}) close(fd);
        for (const std::string& e : options.env) putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    signal(SIGPIPE, SIG_IGN);
    std::thread feeder([&] {
        const Bytes* b = options.stdinBytes;
        for (std::size_t at = 0; b != nullptr && at < b->size();) {
            const ssize_t n = write(in[1], b->data() + at, b->size() - at);
            if (n <= 0) break;
            at += static_cast<std::size_t>(n);
        }
        close(in[1]);
    });
    int status = 0;
    waitpid(pid, &status, 0);
    feeder.join();
    const Bytes out = readFile(outName), err = readFile(errName);
    for (const int fd : {outFd, errFd}) close(fd);
    unlink(outName);
    unlink(errName);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out.begin(), out.end()),
            std::string(err.begin(), err.end())};
}

bool haveProgram(const char* name) {
    return shell(std::string("command -v ") + name + " >/dev/null 2>&1") == 0;
}

int shell(const std::string& command) {
    return runTool("/bin/bash", {"-c", command}).exitCode;
}

std::vector<std::string> scriptRows(const std::string& script) {
    std::vector<std::string> rows;
    std::ifstream in(script);
    const std::regex definition(R"(^([A-Za-z]\w*)\(\) \{$)");
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (std::regex_match(line, m, definition)) rows.push_back(m[1]);
    }
    return rows;
}

void expectRow(const std::string& script, const std::string& row, const std::string& folder,
               const std::string& prelude) {
    constexpr int kSkipped = 77;
    const std::string trace = folder + "/.trace";
    const RunResult r = runTool(
        "/bin/bash",
        {"-c", "cd '" + folder + "'; node() { mknod \"$1\" c \"$2\" \"$3\" 2>/dev/null || " +
                   "{ echo \"mknod $1 is not allowed here\"; exit " + std::to_string(kSkipped) +
                   "; }; }; " + prelude + " source '" + script + "'; exec 9>'" + trace +
                   "'; BASH_XTRACEFD=9; set -x; " + row});
    if (r.exitCode == 0) return;
    const auto tail = [](const std::string& t) {
        return t.substr(t.size() > 1500 ? t.size() - 1500 : 0);
    };
    if (r.exitCode == kSkipped) GTEST_SKIP() << "row " << row << ": " << tail(r.out + r.err);
    const Bytes bytes = readFile(trace);
    ADD_FAILURE() << "row " << row << " failed, exit " << r.exitCode << "; its last commands:\n"
                  << tail(std::string(bytes.begin(), bytes.end())) << "what it printed:\n"
                  << tail(r.out + r.err);
}

bool makeDeviceNode(const std::string& path, unsigned major, unsigned minor) {
    return mknod(path.c_str(), S_IFCHR | 0666, makedev(major, minor)) == 0;
}
