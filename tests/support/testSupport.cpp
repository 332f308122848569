#include "support/testSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

void putLe16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void putLe32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void putText(Bytes& b, const char* fourLetters) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(fourLetters[i]));
}

Bytes chunkDeclared(const char* tag, uint32_t declared, const Bytes& body) {
    Bytes b;
    putText(b, tag);
    putLe32(b, declared);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes chunk(const char* tag, const Bytes& body, bool pad) {
    Bytes b = chunkDeclared(tag, static_cast<uint32_t>(body.size()), body);
    if (pad && body.size() % 2 == 1) b.push_back(0);
    return b;
}

Bytes formatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    Bytes b;
    const uint16_t align = static_cast<uint16_t>(channels * ((bits + 7) / 8));
    putLe16(b, tag);
    putLe16(b, channels);
    putLe32(b, rate);
    putLe32(b, rate * align);
    putLe16(b, align);
    putLe16(b, bits);
    return b;
}

Bytes sampleBytes(const std::vector<int16_t>& samples) {
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

Bytes monoWave(const std::vector<int16_t>& samples, uint32_t rate) {
    return riff({chunk("fmt ", formatBody(1, 1, rate, 16)), chunk("data", sampleBytes(samples))});
}

std::vector<RejectedWave> rejectedWaves() {
    const Bytes data = chunk("data", sampleBytes(std::vector<int16_t>(16, 1000)));
    const auto wav = [&](uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
        return riff({chunk("fmt ", formatBody(tag, channels, rate, bits)), data});
    };
    Bytes extensible = formatBody(0xFFFE, 1, 8000, 16);
    extensible.resize(40, 0);
    Bytes shortFormat = formatBody(1, 1, 8000, 16);
    shortFormat.resize(14);
    return {
        {"Empty", {}, false},
        {"Text", Bytes(100, 'a'), false},
        {"ShortFormatChunk", riff({chunk("fmt ", shortFormat), data}), false},
        {"NoDataChunk", riff({chunk("fmt ", formatBody(1, 1, 8000, 16))}), false},
        {"Float", wav(3, 1, 8000, 32), false},
        {"Extensible", riff({chunk("fmt ", extensible), data}), false},
        {"Stereo", wav(1, 2, 8000, 16), false},
        {"NoChannels", wav(1, 0, 8000, 16), false},
        {"StereoAtABadRate", wav(1, 2, 44100, 16), false},
        {"Rate44100", wav(1, 1, 44100, 16), true},
        {"Rate0", wav(1, 1, 0, 16), true},
        {"RateAbove16Bits", wav(1, 1, 8000 + 65536, 16), true},
        {"EightBitAt7999", wav(1, 1, 7999, 8), true},
        {"EightBitAt8000", wav(1, 1, 8000, 8), false},
        {"TwentyFourBit", wav(1, 1, 8000, 24), false},
    };
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
};

ssize_t cookieRead(void* c, char* buf, size_t n) {
    auto* cookie = static_cast<ReadCookie*>(c);
    const std::size_t left = cookie->bytes->size() - cookie->at;
    // Hand out small pieces, as a pipe does.
    const std::size_t take = std::min({n, left, std::size_t{1000}});
    if (take == 0) return 0;
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

FILE* pipeLikeStream(const Bytes& bytes) {
    cookie_io_functions_t io{cookieRead, nullptr, nullptr, cookieCloseRead};
    return fopencookie(new ReadCookie{&bytes, 0}, "rb", io);
}

FILE* pipeLikeSink(Bytes* sink) {
    cookie_io_functions_t io{nullptr, cookieWrite, nullptr, nullptr};
    return fopencookie(sink, "wb", io);
}

Bytes adpFile(uint32_t rate, bool fourBit, const Bytes& payload) {
    Bytes b = {'A',
               'u',
               'd',
               'i',
               0x80,
               static_cast<uint8_t>(fourBit ? 1 : 0),
               1,
               static_cast<uint8_t>(fourBit ? 4 : 2),
               static_cast<uint8_t>(rate >> 8),
               static_cast<uint8_t>(rate),
               0,
               0};
    const auto n = static_cast<uint32_t>(payload.size());
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(n >> shift));
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

TempDir::TempDir() {
    char templ[] = "/tmp/kestrune-test.XXXXXX";
    const char* made = mkdtemp(templ);
    if (made == nullptr) std::abort();
    path = made;
    // Reachable by the unprivileged user some tests run the tools as.
    chmod(path.c_str(), 0777);
}

TempDir::~TempDir() {
    shell("rm -rf '" + path + "'");
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    DIR* d = opendir(path.c_str());
    if (d == nullptr) return names;
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
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

bool fileExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

RunResult runTool(const std::string& exe, const std::vector<std::string>& args,
                  const RunOptions& options) {
    int outPipe[2], errPipe[2], inPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0 || pipe(inPipe) != 0) return {-1, "", ""};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        if (options.stdinBytes != nullptr) {
            dup2(inPipe[0], STDIN_FILENO);
        } else {
            const int devnull = open("/dev/null", O_RDONLY);
            dup2(devnull, STDIN_FILENO);
        }
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1], inPipe[0], inPipe[1]})
            close(fd);
        for (const std::string& e : options.env) putenv(const_cast<char*>(e.c_str()));
        if (options.asUnprivileged && geteuid() == 0) {
            if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(126);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    close(inPipe[0]);
    signal(SIGPIPE, SIG_IGN);

    RunResult result{-1, "", ""};
    std::size_t fed = 0;
    const Bytes* in = options.stdinBytes;
    int inFd = inPipe[1];
    if (in == nullptr || in->empty()) {
        close(inFd);
        inFd = -1;
    } else {
        fcntl(inFd, F_SETFL, O_NONBLOCK);
    }
    int open = 2;
    while (open > 0 || inFd >= 0) {
        pollfd fds[3] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}, {inFd, POLLOUT, 0}};
        if (poll(fds, 3, -1) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                (i == 0 ? outPipe[0] : errPipe[0]) = -1;
                --open;
            } else {
                (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
            }
        }
        if (inFd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = write(inFd, in->data() + fed, in->size() - fed);
            if (n > 0) fed += static_cast<std::size_t>(n);
            if (n < 0 && errno != EAGAIN) fed = in->size();
            if (fed == in->size()) {
                close(inFd);
                inFd = -1;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

bool haveProgram(const char* name) {
    return shell(std::string("command -v ") + name + " >/dev/null 2>&1") == 0;
}

int shell(const std::string& command) {
    return runTool("/bin/bash", {"-c", command}).exitCode;
}
