// Helpers shared by the tests: WAVE files built as byte arrays, in-memory streams,
// temporary folders and running the tools as a script would.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

void putLe16(Bytes& b, uint16_t v);
void putLe32(Bytes& b, uint32_t v);
void putText(Bytes& b, const char* fourLetters);

// A chunk: tag, little-endian size, body, and a pad byte after an odd body when asked.
Bytes chunk(const char* tag, const Bytes& body, bool pad = true);
// A chunk whose size field says `declared`, whatever the body's length.
Bytes chunkDeclared(const char* tag, uint32_t declared, const Bytes& body);
// The 16 bytes of a format chunk body.
Bytes formatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits);
Bytes sampleBytes(const std::vector<int16_t>& samples);
// "RIFF", size, "WAVE", then the chunks.
Bytes riff(const std::vector<Bytes>& chunks);
// A canonical mono 16-bit PCM file.
Bytes monoWave(const std::vector<int16_t>& samples, uint32_t rate = 8000);

// Inputs the converter rejects, in the order its checks run: structure, format tag,
// channels, rate, sample width. rateError marks those the rate check turns away.
struct RejectedWave {
    const char* name;
    Bytes file;
    bool rateError;
};
std::vector<RejectedWave> rejectedWaves();

// Streams over a byte array: one that can seek (fmemopen) and one that cannot, as a
// pipe reads. The bytes must outlive the stream.
FILE* memoryStream(const Bytes& bytes);
FILE* pipeLikeStream(const Bytes& bytes);
// A stream that collects what is written into *sink and cannot seek.
FILE* pipeLikeSink(Bytes* sink);

// The device file expected for some codes.
Bytes adpFile(uint32_t rate, bool fourBit, const Bytes& payload);

struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
    // Names in the folder, hidden ones included.
    std::vector<std::string> entries() const;
};

void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);
bool fileExists(const std::string& path);

struct RunResult {
    int exitCode;  // -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

struct RunOptions {
    const Bytes* stdinBytes = nullptr;  // fed through a pipe when given
    bool asUnprivileged = false;        // drop to an unprivileged user when running as root
    std::vector<std::string> env;       // NAME=value entries added to the environment
};

RunResult runTool(const std::string& exe, const std::vector<std::string>& args,
                  const RunOptions& options = {});

// Whether a peer program is on PATH.
bool haveProgram(const char* name);
// Runs a bash command; returns its exit status.
int shell(const std::string& command);

inline constexpr uid_t kNobody = 65534;
