// Hostile and damaged input for both tools. Every failure prints its line, exits 1,
// leaves no output file and leaves an existing output untouched; accepted damage
// (truncation, placeholder sizes) converts what is there.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

#include "support/testSupport.h"

namespace {

const std::string kEnc = KESTRUNE_ENC;
const std::string kDec = KESTRUNE_DEC;
const std::string kFinished = "CONVERT FINISHED!!\n";
const std::string kFormatError = "INPUT FILE FORMAT ERROR!!!\n";
const Bytes kOld = {'o', 'l', 'd'};

std::vector<int16_t> tone(std::size_t n) {
    std::vector<int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<int16_t>(5000 * std::sin(0.2 * i));
    return s;
}

const std::vector<int16_t> kTone = tone(40);
const Bytes kFmt = chunk("fmt ", formatBody(1, 1, 8000, 16));

uint32_t headerLength(const Bytes& adp) {
    return adp.size() < 16 ? 0xFFFFFFFFu
                           : (uint32_t{adp[12]} << 24) | (uint32_t{adp[13]} << 16) |
                                 (uint32_t{adp[14]} << 8) | adp[15];
}

class MalformedInput : public ::testing::Test {
protected:
    TempDir dir;
    std::string in = dir.file("in");
    std::string out = dir.file("out");

    // Runs the tool twice, without and with an existing output; expects the failure.
    void expectRejected(const std::string& tool, const std::vector<std::string>& args,
                        const std::string& message, const RunOptions& options = {}) {
        for (const bool existing : {false, true}) {
            if (existing) writeFile(out, kOld);
            const RunResult r = runTool(tool, args, options);
            EXPECT_EQ(r.out, message) << (existing ? "over an existing output" : "");
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.exitCode, 1);
            if (existing) {
                EXPECT_EQ(readFile(out), kOld);
            } else {
                EXPECT_FALSE(fileExists(out));
            }
            unlink(out.c_str());
        }
        for (const std::string& name : dir.entries()) {
            EXPECT_NE(name[0], '.') << "temporary file left: " << name;
        }
    }

    void expectEncoderRejects(const Bytes& wav, const std::string& message) {
        writeFile(in, wav);
        expectRejected(kEnc, {in, out, "4ADP2"}, message);
    }

    // Converts and returns the output's payload length.
    uint32_t encodeAccepted(const Bytes& wav) {
        writeFile(in, wav);
        const RunResult r = runTool(kEnc, {in, out, "4ADP2"});
        EXPECT_EQ(r.out, kFinished);
        EXPECT_EQ(r.exitCode, 0);
        const Bytes adp = readFile(out);
        EXPECT_EQ(adp.size(), 16u + headerLength(adp));
        unlink(out.c_str());
        return headerLength(adp);
    }
};

TEST_F(MalformedInput, EveryPrefixOfAWaveFile) {
    const Bytes wav = riff({kFmt, chunk("LIST", Bytes(6, 'i')), chunk("data", sampleBytes(kTone))});
    const std::size_t dataStart = wav.size() - kTone.size() * 2;
    for (std::size_t n = 0; n < wav.size(); ++n) {
        SCOPED_TRACE(n);
        const Bytes prefix(wav.begin(), wav.begin() + static_cast<std::ptrdiff_t>(n));
        if (n < dataStart) {
            expectEncoderRejects(prefix, kFormatError);
        } else {
            // A cut in the samples converts the whole samples that are there.
            EXPECT_EQ(encodeAccepted(prefix), (n - dataStart) / 2 / 2);
        }
    }
}

TEST_F(MalformedInput, EveryPrefixOfADeviceFile) {
    const Bytes adp = adpFile(8000, true, Bytes(20, 0x37));
    for (std::size_t n = 0; n < adp.size(); ++n) {
        SCOPED_TRACE(n);
        writeFile(in, Bytes(adp.begin(), adp.begin() + static_cast<std::ptrdiff_t>(n)));
        expectRejected(kDec, {in, out}, kFormatError);
    }
    writeFile(in, adp);
    EXPECT_EQ(runTool(kDec, {in, out}).out, kFinished);
}

TEST_F(MalformedInput, ChunkSizes) {
    const Bytes data = chunk("data", sampleBytes(kTone));
    // A chunk before the data: small sizes are skipped, sizes past the end end the search.
    EXPECT_EQ(encodeAccepted(riff({kFmt, chunk("JUNK", {}), data})), 20u);
    EXPECT_EQ(encodeAccepted(riff({kFmt, chunk("JUNK", {1, 2, 3}), data})), 20u);
    for (const uint32_t size : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(size);
        expectEncoderRejects(riff({kFmt, chunkDeclared("JUNK", size, {1, 2}), data}), kFormatError);
    }
    // The data chunk's own size: what is there is converted, and no more.
    EXPECT_EQ(encodeAccepted(riff({kFmt, chunk("data", {})})), 0u);
    EXPECT_EQ(encodeAccepted(riff({kFmt, chunkDeclared("data", 33, sampleBytes(kTone))})), 8u);
    for (const uint32_t size : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(encodeAccepted(riff({kFmt, chunkDeclared("data", size, sampleBytes(kTone))})),
                  20u);
    }
}

TEST_F(MalformedInput, FormatChunkSizes) {
    const Bytes data = chunk("data", sampleBytes(kTone));
    for (uint32_t size = 0; size < 16; ++size) {
        SCOPED_TRACE(size);
        Bytes body = formatBody(1, 1, 8000, 16);
        body.resize(size);
        expectEncoderRejects(riff({chunk("fmt ", body), data}), kFormatError);
    }
    Bytes body17 = formatBody(1, 1, 8000, 16);
    body17.push_back(0x11);
    EXPECT_EQ(encodeAccepted(riff({chunk("fmt ", body17, true), data})), 20u);
    EXPECT_EQ(encodeAccepted(riff({chunk("fmt ", body17, false), data})), 20u);
}

TEST_F(MalformedInput, ChunkOrderAndContents) {
    const Bytes data = chunk("data", sampleBytes(kTone));
    expectEncoderRejects(riff({data, kFmt}), kFormatError);
    expectEncoderRejects(riff({kFmt, kFmt, data}), kFormatError);
    expectEncoderRejects(riff({chunk("fmt ", formatBody(1, 0, 8000, 16)), data}), kFormatError);
    expectEncoderRejects(riff({chunk("fmt ", formatBody(1, 1, 0, 16)), data}),
                         "sampling frequency error!!!\n");
}

TEST_F(MalformedInput, FolderAsInput) {
    ASSERT_EQ(mkdir(in.c_str(), 0755), 0);
    expectRejected(kEnc, {in, out, "4ADP2"}, "INPUT FILE OPEN ERROR!!!!\n");
    expectRejected(kDec, {in, out}, "INPUT FILE OPEN ERROR!!!!\n");
}

TEST_F(MalformedInput, FifoAsInput) {
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::string source = dir.file("source.wav");
    writeFile(source, monoWave(kTone));
    // Fed by a writer, the FIFO converts like the file.
    ASSERT_EQ(shell("cat '" + source + "' > '" + fifo + "' & '" + kEnc + "' '" + fifo + "' '" +
                    out + "' 4ADP2 >/dev/null; rc=$?; wait; exit $rc"),
              0);
    EXPECT_EQ(headerLength(readFile(out)), 20u);
    const Bytes viaFifo = readFile(out);
    unlink(out.c_str());
    EXPECT_EQ(runTool(kEnc, {source, out, "4ADP2"}).out, kFinished);
    EXPECT_EQ(readFile(out), viaFifo);
    unlink(out.c_str());

    // Garbage through the FIFO is rejected like garbage in a file.
    ASSERT_EQ(shell("head -c 3000 /dev/urandom > '" + fifo + "' & '" + kEnc + "' '" + fifo + "' '" +
                    out + "' 4ADP2 | grep -qx 'INPUT FILE FORMAT ERROR!!!'; rc=$?; wait; exit $rc"),
              0);
    EXPECT_FALSE(fileExists(out));
}

TEST_F(MalformedInput, ReadOnlyOutputFolder) {
    writeFile(in, monoWave(kTone));
    const std::string locked = dir.file("locked");
    ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
    RunOptions unprivileged;
    unprivileged.asUnprivileged = true;
    for (const auto& [tool, args] :
         {std::pair{kEnc, std::vector<std::string>{in, locked + "/out", "4ADP2"}},
          std::pair{kDec, std::vector<std::string>{in, locked + "/out"}}}) {
        const RunResult r = runTool(tool, args, unprivileged);
        EXPECT_EQ(r.out, "OUTPUT FILE OPEN ERROR!!!!\n");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_FALSE(fileExists(locked + "/out"));
    }
}

TEST_F(MalformedInput, FullDevice) {
    writeFile(in, monoWave(kTone));
    EXPECT_EQ(runTool(kEnc, {in, "/dev/full", "4ADP2"}).out, "Write error!\n");
    writeFile(in, adpFile(8000, true, Bytes(20, 0x37)));
    EXPECT_EQ(runTool(kDec, {in, "/dev/full"}).out, "Write error!\n");
}

// The seam built into the test copies of the tools fails allocations or reads.
TEST_F(MalformedInput, AllocationAndReadFailures) {
    const Bytes wav = monoWave(kTone);
    const Bytes adp = adpFile(8000, true, Bytes(20, 0x37));
    struct Fault {
        const char* env;
        const char* message;
    } faults[] = {{"KESTRUNE_FAULT=alloc", "Memory isn't enough !!\n"},
                  {"KESTRUNE_FAULT=read", "Read error!\n"}};
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.env);
        RunOptions options;
        options.env = {f.env};
        writeFile(in, wav);
        expectRejected(KESTRUNE_ENC_FAULTS, {in, out, "2ADP2"}, f.message, options);
        writeFile(in, adp);
        expectRejected(KESTRUNE_DEC_FAULTS, {in, out}, f.message, options);
    }
    // Without a fault the test copies behave like the tools.
    writeFile(in, wav);
    EXPECT_EQ(runTool(KESTRUNE_ENC_FAULTS, {in, out, "2ADP2"}).out, kFinished);
}

}  // namespace
