// What the tests share: files built as byte arrays, streams over them, temporary folders,
// and running the tools as a script would.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;
using Samples = std::vector<int16_t>;

// A chunk: tag, little-endian size (`declared`, or the body's), body, and a pad byte after
// an odd body when asked.
Bytes chunk(const char* tag, const Bytes& body, bool pad = true, int64_t declared = -1);
// The 16 bytes of a format chunk body.
Bytes formatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits);
Bytes sampleBytes(const Samples& samples);
// "RIFF", size, "WAVE", then the chunks.
Bytes riff(const std::vector<Bytes>& chunks);
// A canonical mono 16-bit PCM WAVE file, as the decoder writes it.
Bytes monoWave(const Samples& samples, uint32_t rate = 8000);
// The device file for some codes.
Bytes adpFile(uint32_t rate, bool fourBit, const Bytes& payload, int64_t declared = -1);

// Stretches of random lengths and kinds: silence, DC, a loud tone in noise, full-scale
// noise, full-scale squares, a clipped sine, isolated clicks, very quiet noise.
Samples hostileSignal(std::size_t n, uint32_t seed);

// Streams over a byte array, which must outlive them: one that can seek, one that cannot
// (as a pipe), and one that cannot and fails with an I/O error where the bytes end.
FILE* memoryStream(const Bytes& bytes);
FILE* pipeLikeStream(const Bytes& bytes, bool failAtEnd = false);
// A stream that collects what is written into *sink and cannot seek.
FILE* pipeLikeSink(Bytes* sink);

struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
    // Names in the folder, hidden ones included, sorted.
    std::vector<std::string> entries() const;
};

void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);

struct RunResult {
    int exitCode;  // -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

struct RunOptions {
    const Bytes* stdinBytes = nullptr;  // fed through a pipe when given
    std::vector<std::string> env;       // NAME=value entries added to the environment
};

RunResult runTool(const std::string& exe, const std::vector<std::string>& args,
                  const RunOptions& options = {});

bool haveProgram(const char* name);
// Runs a bash command; returns its exit status.
int shell(const std::string& command);

// The rows of a script of rows: the names of the functions it defines (`Name() {`), in
// order.
std::vector<std::string> scriptRows(const std::string& script);
// Runs one row in `folder` after `prelude` and reports a failure with the commands it ran
// last. A row may make a private device node with `node NAME MAJOR MINOR` (writing into
// the machine's own /dev/full or /dev/null could replace them, as root); where mknod is
// not allowed, the row is skipped from there on, and the test with it.
void expectRow(const std::string& script, const std::string& row, const std::string& folder,
               const std::string& prelude);
// A character device made at path (/dev/full is 1 7); false where mknod is not allowed.
bool makeDeviceNode(const std::string& path, unsigned major, unsigned minor);
