#include "tool/jobs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "adpFile.h"
#include "device/conversions.h"
#include "io/inputFile.h"
#include "io/outputFile.h"
#include "io/status.h"
#include "tool/paths.h"

namespace kestrune::tool {

int openOutput(detail::OutputFile* out, const std::string& path, const struct stat* input,
               bool replace) {
    return path == "-" ? detail::outputOpenDescriptor(out, STDOUT_FILENO, input)
                       : detail::outputOpen(out, path.c_str(), input, replace);
}

void outputFailed(FileResult* r, int status, std::string why) {
    if (why.empty()) why = std::strerror(errno);
    const std::string name = outputName(r->output);
    if (status == kStatusOutputExists) {
        r->failurePath = r->output;
        r->fail(status, "exists (use -f to replace it)");
    } else if (status == kStatusOutputOpen) {
        r->fail(status, "cannot create " + name + ": " + why);
    } else if (status == kStatusMemory) {
        r->fail(status, "out of memory");
    } else if (status == kStatusRead) {
        r->fail(status, "cannot read the input");
    } else {
        r->fail(kStatusWrite, "cannot write " + name + ": " + why);
    }
}

void setQuality(FileResult* r, const kestrune::Quality& q) {
    if (std::isfinite(q.snrDb)) r->snrDb = q.snrDb;
    r->segSnrDb = q.segmentalSnrDb;
    if (std::isfinite(q.weightedSnrDb)) r->weightedSnrDb = q.weightedSnrDb;
}

uint64_t microseconds(uint64_t samples, uint32_t rate) {
    return rate == 0 ? 0 : samples * 1000000 / rate;
}

namespace {

// Opens input at offset; false, with the result failed, when it cannot be.
bool openAt(detail::InputFile* from, uint64_t offset, FileResult* r) {
    if (!from->opened) return r->fail(from->opened.failure()).ok();
    if (offset > 0 && std::fseek(from->fp, static_cast<long>(offset), SEEK_SET) != 0) {
        return r->fail(kStatusRead, std::string("cannot read: ") + std::strerror(errno)).ok();
    }
    return true;
}

}  // namespace

FileResult decodeJob(const std::string& input, const std::string& output, bool replace,
                     Progress* progress, uint64_t offset) {
    FileResult r;
    r.input = input;
    r.output = output;
    detail::InputFile from(input);
    if (!openAt(&from, offset, &r)) return r;
    AdpInfo info{};
    if (detail::Done read = detail::readAdpHeaderFrom(from.fp, &info, true); !read) {
        const detail::Failure& f = read.failure();
        return r.fail(f.status, f.reason.empty() ? "cannot read the input" : f.reason);
    }
    detail::OutputFile out;
    const int status = openOutput(&out, output, &from.st, replace);
    if (status != kStatusFinished) {
        outputFailed(&r, status, out.problem);
        return r;
    }
    if (detail::Done decoded = detail::decodeAdpPayload(from.fp, out.fp, info); !decoded) {
        const detail::Failure& f = decoded.failure();
        if (f.status == kStatusFormat) {
            r.fail(f);
        } else {
            outputFailed(&r, f.status, f.reason);
        }
        detail::outputDiscard(&out);
        return r;
    }
    r.uncommitted = std::move(out);
    describeDevice(&r, info);
    if (progress != nullptr) progress->audioMicroseconds += microseconds(r.samples, r.rate);
    return r;
}

FileResult extractJob(const std::string& input, uint64_t offset, uint64_t length,
                      const std::string& output, bool replace) {
    FileResult r;
    r.input = input;
    r.output = output;
    detail::InputFile from(input);
    if (!openAt(&from, offset, &r)) return r;
    detail::OutputFile out;
    int status = openOutput(&out, output, &from.st, replace);
    if (status != kStatusFinished) {
        outputFailed(&r, status, out.problem);
        return r;
    }
    std::vector<char> block(1 << 16);
    for (uint64_t left = length; left > 0 && status == kStatusFinished;) {
        const std::size_t n =
            std::fread(block.data(), 1, std::min<uint64_t>(left, block.size()), from.fp);
        if (n == 0) status = kStatusRead;
        if (n > 0 && std::fwrite(block.data(), 1, n, out.fp) != n) status = kStatusWrite;
        left -= n;
    }
    if (status != kStatusFinished) {
        outputFailed(&r, status, "");
        detail::outputDiscard(&out);
        return r;
    }
    r.uncommitted = std::move(out);
    r.bytes = length;
    return r;
}

detail::Done checkDeviceFile(FILE* fp, const struct stat& st, AdpInfo* info) {
    if (detail::Done read = detail::readCheckedAdpHeader(fp, info); !read) {
        if (read.failure().reason.empty()) read.failure().reason = "cannot read";
        return read;
    }
    // The payload must be all there; a regular file tells its size, a pipe is read.
    uint64_t present = 0;
    if (S_ISREG(st.st_mode)) {
        present =
            static_cast<uint64_t>(std::max<off_t>(st.st_size, kAdpHeaderSize)) - kAdpHeaderSize;
    } else {
        std::vector<char> sink(1 << 16);
        std::size_t n;
        while (present < info->payloadLength &&
               (n = std::fread(sink.data(), 1, sink.size(), fp)) > 0) {
            present += n;
        }
    }
    if (present >= info->payloadLength) return {};
    return detail::Failure{kStatusFormat, std::string(detail::kShortPayload) + " (" +
                                              std::to_string(present) + " of " +
                                              std::to_string(info->payloadLength) + " bytes)"};
}

FileResult inspectJob(const std::string& path) {
    FileResult r;
    r.input = path;
    detail::InputFile from(path);
    AdpInfo info{};
    if (!from.opened) {
        r.fail(from.opened.failure());
    } else if (detail::Done checked = checkDeviceFile(from.fp, from.st, &info); !checked) {
        r.fail(checked.failure());
    } else {
        describeDevice(&r, info);
    }
    return r;
}

// A whole device file: what its header says.
void describeDevice(FileResult* r, const AdpInfo& info) {
    r->rate = info.rate;
    r->bits = info.bits();
    r->bytes = info.payloadLength;
    r->samples = info.samples();
}

// The device file at path, whole, when it is one; empty when it is not.
std::vector<uint8_t> deviceFileAt(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    AdpInfo info{};
    if (bytes.size() < kAdpHeaderSize || !checkAdpHeader(bytes.data(), &info) ||
        bytes.size() - kAdpHeaderSize < info.payloadLength) {
        return {};
    }
    bytes.resize(kAdpHeaderSize + info.payloadLength);
    return bytes;
}

}  // namespace kestrune::tool
