#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "adpFile.h"
#include "device/adpWriter.h"
#include "io/inputFile.h"
#include "io/outputFile.h"
#include "io/status.h"
#include "kestrune/kestrune.hpp"
#include "kestrune/recording.hpp"
#include "tool/container.h"
#include "tool/jobs.h"
#include "tool/listening.h"
#include "tool/paths.h"

namespace kestrune::tool {

namespace {

// The input's identity, so that an output that is the input is refused.
int identify(const std::string& input, struct stat* st) {
    return input == "-" ? fstat(STDIN_FILENO, st) : stat(input.c_str(), st);
}

// The tool's settings as the library's pipeline takes them.
kestrune::RecordingOptions recordingOptions(const EncodeSettings& s, uint32_t rate) {
    const detail::Levelling& l = s.levelling;
    return {rate,
            s.bits,
            s.level,
            s.tune,
            s.audio.channel,
            s.audio.gainDb,
            s.audio.normalizeDbfs,
            l.loudnessLufs,
            l.speechLevelDb,
            l.peakDbfs,
            l.trimDb,
            l.trimMarginMs,
            s.measure};
}

// The library's failures as the tool's statuses (which only tell failure from success).
int statusOf(kestrune::Error e) {
    switch (e) {
        case kestrune::Error::cannot_open:
            return kStatusInputOpen;
        case kestrune::Error::read_failed:
            return kStatusRead;
        case kestrune::Error::out_of_memory:
            return kStatusMemory;
        default:
            return kStatusFormat;
    }
}

// Opens the recording and prepares it as the encoder receives it, at the rate it gets
// (r->rate). None, with the result failed, when it cannot be read or is too long.
std::optional<kestrune::Recording> openRecording(const EncodeSettings& settings,
                                                 const std::string& input, Progress* progress,
                                                 struct stat* source, kestrune::Report* report,
                                                 FileResult* r) {
    if (const detail::Done readable = detail::inputCheck(identify(input, source), *source);
        !readable) {
        r->fail(readable.failure());
        return std::nullopt;
    }
    std::string why;
    kestrune::Result<kestrune::Recording> audio = kestrune::Recording::open(input, &why);
    if (!audio) {
        r->fail(statusOf(audio.error()), why);
        return std::nullopt;
    }
    r->rate = settings.rate != 0 ? settings.rate : kestrune::defaultRate(audio->sourceRate());
    const std::optional<uint64_t> frames = audio->frames();
    if (progress != nullptr && frames) {
        progress->knownMicroseconds += microseconds(*frames, audio->sourceRate());
        ++progress->filesMeasured;
    }
    // The length field holds 32 bits of bytes; a recording too long for it is refused
    // before any work when its header tells (a margin for resampling's rounding).
    if (frames && static_cast<double>(*frames) * r->rate / audio->sourceRate() /
                          kestrune::samplesPerByte(settings.bits) >
                      kestrune::kMaxPayloadBytes * 1.001) {
        r->fail(kStatusFormat, kTooLongForDevice);
        return std::nullopt;
    }
    if (audio->prepare(recordingOptions(settings, r->rate), report) != kestrune::Error::none) {
        r->fail(statusOf(report->error), report->reason);
        return std::nullopt;
    }
    return std::move(*audio);
}

// What the library's report tells of a file encoded in full, into the result.
void describeEncoded(kestrune::Report&& report, FileResult* r) {
    r->samples = report.samples;
    r->bytes = report.bytes;
    r->clipped = report.clipped;
    r->nonFinite = report.nonFinite;
    r->limited = report.limited;
    r->loudnessIn = report.loudnessIn;
    r->loudnessOut = report.loudnessOut;
    r->gainDb = report.gainDb;
    r->trimStartMs = report.trimStartMs;
    r->trimEndMs = report.trimEndMs;
    r->snrDb = report.snrDb;
    r->segSnrDb = report.segmentalSnrDb;
    r->weightedSnrDb = report.weightedSnrDb;
    r->playbackPeakDbfs = report.playbackPeakDbfs;
    r->headroomDb = report.headroomDb;
    r->warnings = std::move(report.warnings);
}

// What a listening report needs of an encoding: the source, what plays and the codes.
struct Heard {
    std::vector<int16_t> source, played;
    std::vector<uint8_t> device;
};

// The length an output that cannot go back for its header gets first, from a pass that
// counts the samples, so that the codes stream out instead of being held; -1 when it is
// not needed or not known. False, with the result failed, when it is too long.
bool lengthFirst(kestrune::Recording* audio, const detail::OutputFile& out,
                 const Container& container, unsigned bits, int64_t* length, FileResult* r) {
    *length = -1;
    if (!out.canSeek && container.direct()) {
        if (const std::optional<uint64_t> n = audio->countSamples()) {
            *length = static_cast<int64_t>(*n / kestrune::samplesPerByte(bits));
        }
        if (*length > static_cast<int64_t>(kestrune::kMaxPayloadBytes)) {
            r->fail(kStatusFormat, kTooLongForDevice);
            return false;
        }
    }
    return true;
}

// Where the encoding goes: the codes to the writer while it takes them (*status its
// last answer), and what a listening report and the progress line need.
kestrune::RecordingSink sinkFor(const EncodeSettings& settings, detail::AdpWriter* writer,
                                int* status, Heard* heard, Progress* progress, uint32_t rate) {
    kestrune::RecordingSink sink;
    sink.codes = [&settings, writer, status, heard](std::span<const uint8_t> codes) {
        if (*status == kStatusFinished) *status = writer->add(codes.data(), codes.size());
        if (settings.listen) heard->device.insert(heard->device.end(), codes.begin(), codes.end());
        return *status == kStatusFinished;
    };
    if (settings.listen || progress != nullptr)
        sink.played = [&settings, heard, progress, rate](std::span<const int16_t> played) {
            if (settings.listen)
                heard->played.insert(heard->played.end(), played.begin(), played.end());
            if (progress != nullptr)
                progress->audioMicroseconds += microseconds(played.size(), rate);
        };
    if (settings.listen) {
        sink.source = [heard](std::span<const int16_t> samples) {
            heard->source.insert(heard->source.end(), samples.begin(), samples.end());
        };
    }
    return sink;
}

// The listening report's view of the encoded file: the device file whole, the source and
// what plays.
void keepHeard(const EncodeSettings& settings, const Heard& heard, FileResult* r) {
    const auto header = kestrune::Encoder::create({r->rate, settings.bits, 0})
                            ->header(static_cast<uint32_t>(heard.device.size()));
    std::vector<uint8_t> file(header.begin(), header.end());
    file.insert(file.end(), heard.device.begin(), heard.device.end());
    r->listening = std::make_shared<const Listening>(
        listenTo(std::move(file), heard.source, heard.played, r->rate));
}

}  // namespace

FileResult encodeJob(const EncodeSettings& settings, const std::string& input,
                     const std::string& output, Progress* progress) {
    FileResult r;
    r.input = input;
    r.output = output;
    r.bits = settings.bits;
    struct stat source {};
    kestrune::Report report;
    std::optional<kestrune::Recording> audio =
        openRecording(settings, input, progress, &source, &report, &r);
    if (!audio) return r;

    detail::OutputFile out;
    int status = openOutput(&out, output, &source, settings.replace);
    if (status != kStatusFinished) {
        outputFailed(&r, status, out.problem);
        return r;
    }
    const std::unique_ptr<Container> container = settings.container->make(
        out.fp, settings.containerOptions, stemOf(output == "-" ? input : output));
    FILE* const to = container->stream();
    if (to == nullptr) return r.fail(kStatusMemory, "out of memory");
    const bool rewrite = out.canSeek && container->direct();
    int64_t length = -1;
    if (!lengthFirst(&*audio, out, *container, settings.bits, &length, &r)) return r;
    detail::AdpWriter writer;
    status = writer.start(to, rewrite, r.rate, adpVariant(settings.bits), length);

    Heard heard;
    const kestrune::RecordingSink sink =
        sinkFor(settings, &writer, &status, &heard, progress, r.rate);
    const kestrune::Error encoded = audio->encode(sink, &report);
    if (encoded != kestrune::Error::none && encoded != kestrune::Error::write_failed) {
        r.fail(statusOf(encoded), report.reason);
    } else if (status == kStatusFinished) {
        if (length >= 0 && writer.written() != static_cast<uint64_t>(length)) {
            r.fail(kStatusRead, "the input changed while it was read");
        } else {
            status = writer.finish();
            if (status == kStatusFinished) status = container->finish(r);
        }
    }
    if (r.ok() && status != kStatusFinished) outputFailed(&r, status, "");  // errno says why
    if (!r.ok()) return r;  // the output is discarded with `out`
    r.uncommitted = std::move(out);
    describeEncoded(std::move(report), &r);
    if (settings.listen) keepHeard(settings, heard, &r);
    if (settings.warningsAsErrors && !r.warnings.empty()) {
        r.uncommitted = detail::OutputFile{};  // discarded
        std::string all;
        for (const std::string& w : r.warnings) all += (all.empty() ? "" : "; ") + w;
        return r.fail(kStatusFormat, all + " (a warning, made an error by -w)");
    }
    return r;
}

}  // namespace kestrune::tool
