#!/usr/bin/env python3
"""Mutation run: how many single faults planted in src/ the test suite catches.

Copies the working tree to a scratch folder, builds it once, then for each mutant applies
one edit, rebuilds, runs the whole suite, and restores the file. A mutant is killed when a
test fails; it survives when every test passes.

Two kinds of mutant:
- the hand-written list below, each a fault the suite once let through or a class of
  fault it must catch (a build failure counts as killed);
- with --generic N, N generic mutants drawn (seeded, so the same N give the same draw) from
  every line of src/: relational and equality operators flipped (< <=, > >=, == !=),
  logical ones swapped (&& ||), integer literals off by one (N+1), negations dropped.
  Those that do not compile are not counted; those listed in EQUIVALENT (a change no
  behaviour can show) are reported apart; the ratio is of the others.

    tools/mutate.py [--only SUBSTRING]... [--generic N] [--seed S] [--no-listed] [--jobs N]

Prints each survivor and the killed ratios.

The suite runs as root in a mutation run, so a mutant of the output path could replace a
device of the machine's. Before and after each mutant, /dev/full, /dev/null and /dev/zero
are checked to be the character devices they should be; one that is not is made anew, and
the mutant that replaced it counts as killed and is named.
"""
import argparse
import os
import random
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time

# (file, text to find, replacement, what the fault is). The text must occur exactly once.
MUTANTS = [
    # Faults the suite once let through.
    ("src/device/conversions.cpp",
     "if (got < want && (lengthKnown || std::ferror(from))) return kStatusRead;",
     "if (got < want && lengthKnown) return kStatusRead;",
     "a read error on pipe input taken for its end"),
    ("src/device/conversions.cpp", "status = std::ferror(from) ? kStatusRead : kStatusFormat;",
     "status = kStatusFormat;", "the decoder's payload read error reported as a format error"),
    ("src/adpFile.cpp", "*payloadLength = (static_cast<uint32_t>(h[12]) << 24)",
     "*payloadLength = (static_cast<uint32_t>(h[11]) << 24)", "length's top byte read from byte 11"),
    ("src/device/conversions.cpp", "if (!rf64 && samples * sizeof(int16_t) > 0xFFFFFFFFu - 36) {",
     "if (false) {", "no check that a decoded WAV's sizes fit 32 bits"),
    ("src/io/outputFile.cpp", "ok = fchmod(fd, replaced->st_mode & 0777) == 0;",
     "ok = fchmod(fd, replaced->st_mode & 07777) == 0;", "set-id and sticky bits kept"),
    ("src/io/outputFile.cpp", "if (ioHooks.close(out->fp) != 0 && ok) {", "if (ioHooks.close(out->fp) != 0 && false) {",
     "fclose's result ignored on commit"),
    ("src/io/outputFile.cpp", "if (exists && !S_ISREG(st.st_mode)) {",
     "if (exists && S_ISFIFO(st.st_mode)) {", "a device output replaced by a file"),
    # The codec.
    ("src/codec/adpcm.cpp", "if (below ? remaining > step : remaining >= step) {",
     "if (remaining >= step) {", "the same tie-break above and below the estimate"),
    ("src/codec/adpcm.h", "return value < -32768 ? -32768 : (value > 32767 ? 32767 : value);",
     "return value < -32768 ? -32768 : (value > 32766 ? 32766 : value);", "estimate clamped at 32766"),
    ("src/codec/adpcm.h", "{-2, -2, -2, -2, 2, 6, 9, 11};", "{-2, -2, -2, -2, 2, 6, 9, 10};",
     "largest 4-bit magnitude moves the pointer by 10"),
    ("src/codec/adpcm.h", "inline constexpr std::array<int16_t, 2> kAdjust2Bit = {-2, 3};",
     "inline constexpr std::array<int16_t, 2> kAdjust2Bit = {-1, 3};", "2-bit pointer falls by 1"),
    ("src/codec/adpcm.h", "    16,   17,   18,", "    16,   17,   19,", "a step table entry off by one"),
    ("src/codec/adpcm.cpp", "for (int k = kPerByte - 1; k >= 0; --k) {",
     "for (int k = 0; k < kPerByte; ++k) {", "codes unpacked latest first"),
    ("src/codec/adpcm.cpp", "out[0] = static_cast<uint8_t>(enc_stream.param.estimate >> 8);",
     "out[0] = static_cast<uint8_t>(enc_stream.param.estimate >> 7);", "read-out of the wrong bits"),
    ("src/codec/adpcm.cpp", "            enc_stream.pendingCount = 0;\n", "",
     "reset keeps pending codes"),
    ("src/codec/stepStates.h", "s.estimate = PcmLimit(Variant, (sample - 2 * below) + (beyond ^ below));",
     "s.estimate = PcmLimit(Variant, (sample - 2 * below) + beyond);", "block coder estimate below"),
    # The search encoder and quality measure.
    ("src/codec/search.cpp", "        if (static_cast<uint8_t>(history_[i] >> shift) != byte) continue;\n",
     "", "paths that disagree with a commit kept"),
    ("src/codec/searchStep.cpp", "k == referenceChild ? kApart : (uint32_t{pointer} << 17) | bucket;",
     "(uint32_t{pointer} << 17) | bucket;", "the reference's path merged away"),
    ("src/codec/searchStep.cpp", "static_cast<uint32_t>(same) & static_cast<uint32_t>(candKey[held] < candKey[k]);",
     "static_cast<uint32_t>(same) & static_cast<uint32_t>(candKey[held] > candKey[k]);",
     "a merge keeps the worse path"),
    ("src/codec/search.cpp", "    const std::size_t best = bestOf(atByte_, nullptr, survivors_, reference_);",
     "    const std::size_t best = bestOf(cost_, nullptr, survivors_, reference_);",
     "the end chosen by the cost of codes not written"),
    ("src/codec/search.cpp", "    settled_ += shared;\n", "", "predicted error forgets committed cost"),
    ("src/codec/searchLookahead.cpp", "for (int k = 0; k < tail && total < bound; ++k) {",
     "for (int k = 0; k < 0 && total < bound; ++k) {", "lookahead: the tail's floor never added"),
    ("src/codec/searchLookahead.cpp", "- reach[static_cast<std::size_t>(k)], 0);",
     "- reach[static_cast<std::size_t>(k + 1)], 0);",
     "lookahead: the tail's floor from the reach of one code too many"),
    ("src/codec/searchStep.cpp", "const int tail = known - depth;", "const int tail = 0;",
     "the level's tail not passed to the lookahead"),
    ("src/codec/searchStep.cpp", "const uint64_t past = next > ceiling || next < -ceiling;",
     "const uint64_t past = next > ceiling;", "the ceiling held on one side only"),
    ("src/codec/search.cpp", "if (ceiling_ < kNoCeiling) level_.window", "if (false) level_.window",
     "a ceiling with no code beside the reference's"),
    ("src/codec/quality.cpp", "constexpr double kFrameFloorDb = -10;", "constexpr double kFrameFloorDb = -20;",
     "segmental SNR floor moved"),
    # Files and formats.
    ("src/adpFile.cpp", 'header[5] = variant == kVariant4Bit ? 0x01 : 0x00;',
     'header[5] = variant == kVariant4Bit ? 0x00 : 0x01;', "header byte 5 swapped"),
    ("src/adpFile.cpp", "header[8] = static_cast<uint8_t>(rate >> 8);",
     "header[8] = static_cast<uint8_t>(rate >> 7);", "rate's high byte wrong"),
    ("src/device/conversions.cpp", "if (f.bitsPerSample != 16) return kStatusFormat;", "",
     "sample width not checked"),
    ("src/device/conversions.cpp", "if (!rateAccepted(f.sampleRate)) return kStatusRate;", "",
     "sample rate not checked"),
    ("src/device/conversions.cpp", "lengthKnown ? std::min<uint64_t>(declared, static_cast<uint64_t>(left)) : declared;",
     "lengthKnown ? static_cast<uint64_t>(left) : declared;", "chunks after the data encoded"),
    ("src/device/conversions.cpp", "if (left >= 0 && static_cast<uint64_t>(left) < info->payloadLength) {",
     "if (left >= 0 && static_cast<uint64_t>(left) + 1 < info->payloadLength) {",
     "a payload one byte short accepted"),
    ("src/wave/waveWriter.cpp", "putLe(h + 28, rate * 2, 4);  // byte rate", "putLe(h + 28, rate, 4);",
     "WAV byte rate wrong"),
    ("src/device/adpWriter.cpp", "const int status = writeHeader(to_, length, rate_, variant_);",
     "const int status = writeHeader(to_, 0, rate_, variant_);", "held codes get length 0"),
    # (A format chunk shorter than its fields is refused twice over: skipping its size less
    # the fields would wrap, so loosening the first refusal cannot show. The skip is the test.)
    ("src/wave/waveFile.cpp", "if (!skipChunkBody(fp, static_cast<uint64_t>(size) - kFormatFieldBytes))",
     "if (!skipChunkBody(fp, 0))", "a format chunk's extra bytes not skipped"),
    ("src/wave/waveFile.cpp", "if (c != 0 && std::ungetc(c, fp) == EOF) return false;",
     "if (std::ungetc(c, fp) == EOF) return false;", "a zero pad byte read as a tag"),
    ("src/wave/waveFile.cpp", 'if (tagIs(tag, "fmt ")) return kWaveBadStructure;', "",
     "a second format chunk skipped"),
    ("src/adpFile.h", "constexpr std::array<uint32_t, 8> kAcceptedRates = {4000,  5300,",
     "constexpr std::array<uint32_t, 8> kAcceptedRates = {4000,  5330,", "a device rate wrong"),
    # Safe output and the run.
    ("src/io/outputFile.cpp", "if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) {", "if (false) {",
     "the same device by two nodes not refused"),
    ("src/io/outputFile.cpp", 'if (folder == proc + "/fd") return true;', "if (false) return true;",
     "/dev/stdout taken for a file to replace"),
    ("src/io/outputCleanup.cpp", "if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) return;",
     "if (sigaction(sig, nullptr, &old) != 0) return;", "ignored signals caught"),
    ("src/io/outputCleanup.cpp", "sa.sa_handler = sig == SIGXFSZ ? SIG_IGN : removeTempsAndDie;",
     "sa.sa_handler = removeTempsAndDie;", "a file-size limit kills the run"),
    ("src/io/outputFile.cpp", "out->canSeek = (flags & O_APPEND) == 0 && lseek(fd, 0, SEEK_CUR) >= 0;",
     "out->canSeek = lseek(fd, 0, SEEK_CUR) >= 0;", "appending output taken as seekable"),
    ("src/io/outputCleanup.cpp", "if (folder >= 0) unlinkat(folder, s.name, 0);", "",
     "a signal leaves the temporary file"),
    ("src/io/outputFile.cpp", "if (exists && input != nullptr && sameFile(st, *input)) {",
     "if (false) {", "the input overwritten by its own output"),
    ("src/io/outputFile.cpp", "constexpr int kMaxLinks = 40;", "constexpr int kMaxLinks = 0;",
     "links not followed"),
    ("src/io/inputFile.cpp", "if (S_ISDIR(st.st_mode)) return", "if (false) return",
     "a folder taken as input"),
    ("src/legacy/convertFiles.cpp", "FILE* to = outputIsStdout ? stderr : stdout;", "FILE* to = stdout;",
     "status line inside data on standard output"),
    ("src/legacy/messages.cpp", "return status == kStatusUsage ? 2 : 1;", "return 1;",
     "usage error exits 1"),
    # Audio input and the modern tool.
    ("src/audio/steps.cpp", "mono_[f] = v * share;", "mono_[f] = v;",
     "channels summed, not averaged"),
    ("src/audio/audioInput.cpp", "clipped_ += kept != rounded;", "", "clipped samples not counted"),
    ("src/audio/audioInput.cpp", "if (rate <= sourceRate) best = rate;", "if (rate < sourceRate) best = rate;",
     "a device-rate source resampled down"),
    ("src/audio/steps.cpp", "const std::size_t c = channel_ > 0 ? static_cast<std::size_t>(channel_ - 1) : 0;",
     "const std::size_t c = 0;", "--channel ignored"),
    ("src/tool/commands.cpp", 'if (!output.empty() && inputs.size() != 1) throw UsageError{"-o takes a single input; use -d"};',
     "", "-o with many inputs"),
    ("src/tool/report.cpp", "if (!r.ok()) return 1;", "if (!r.ok()) return 0;", "failures exit 0"),
    ("src/api/recordingEncode.cpp", "p.meter.add(p.queue.front(n), p.played);",
     "p.meter.add(p.queue.front(n).subspan(0, n / 2), p.played);", "SNR measured on half the samples"),
    # The listening report and the weighted search.
    ("src/tool/listeningRows.js", "estimate = Math.min(32767, Math.max(-32768, estimate + t.offset[at]));",
     "estimate = Math.min(32766, Math.max(-32768, estimate + t.offset[at]));",
     "report: the page's decoder clamps at 32766"),
    ("src/tool/listeningRows.js", "sortUp = key === sortKey ? !sortUp : true;", "sortUp = true;",
     "report: a second click does not reverse the order"),
    ("src/tool/listeningPage.cpp", "if (!l.source.empty()) {", "if (false) {",
     "report: sources left out of the page"),
    ("src/tool/listeningPage.cpp", "if (c == '<') {", "if (c == 1) {",
     "report: a '<' in a name or warning can end the page's data"),
    ("src/tool/report.cpp", "return j.dump(-1, ' ', false, Json::error_handler_t::replace);",
     "return j.dump();", "JSON and report: a name that is not UTF-8 aborts"),
    ("src/tool/listeningRows.js", "    tr.tabIndex = 0;\n", "", "report: rows out of the keyboard's reach"),
    ("src/api/kestrune_c.cpp", "if (e != nullptr && e->lost) return KESTRUNE_OUT_OF_MEMORY;", "",
     "C interface: an encoder that lost codes hands out a file"),
    # One way to fail: the reason's errno text, and the status's row as the library's error.
    ("src/io/failure.h", 'return {status, what + ": " + std::strerror(errno)};',
     "return {status, what};", "a failure's reason without errno's text"),
    ("src/api/recording.cpp", "{kStatusFormat, Error::not_audio},",
     "{kStatusFormat, Error::read_failed},", "a recording no reader takes called unreadable"),
    ("src/audio/optionRanges.h", "kPeakRange{-60, 0, \"dB\"};", "kPeakRange{-60, 1, \"dB\"};",
     "a ceiling above full scale taken"),
    ("src/codec/weighting.h", "return static_cast<int32_t>(f + std::copysign(0.5f, f));",
     "return static_cast<int32_t>(f + 0.5f);", "weighted search: feedback rounded up, not half away"),
    ("src/codec/searchStep.cpp", "const int slot = position_ & 3;", "const int slot = position_ & 1;",
     "weighted search: a child's memory written at the wrong ring slot"),
    # The tool's steps that fail with a reason.
    ("src/tool/pack.cpp", "    if (at <= kMaxField) return layout;", "    return layout;",
     "an image past its index's 32-bit fields laid out"),
    ("src/tool/buildLock.cpp", "if (!lock.entries.empty() && e.id <= lock.entries.back().id) {",
     "if (false) {", "a lock file's IDs out of order taken"),
    ("src/tool/buildSpeech.cpp", "if (stat(out.c_str(), &st) != 0 || st.st_size == 0) {",
     "if (false) {", "a speech command that wrote nothing taken as spoken"),
    ("src/tool/options.cpp", "            *value = v;", "", "a floating option checked but not kept"),
    ("src/tool/jobs.h", "bool ok() const { return failure.status == kStatusFinished; }",
     "bool ok() const { return true; }", "a failed job counted as done"),
]


# Generic mutants that no test can kill, with why: (file, original line stripped, mutated
# line stripped, reason).
EQUIVALENT = [
    ("src/audio/audioInput.cpp", "float top = 0;", "float top = 1;",
     "peak() sets it before it is read"),
    ("src/io/outputFile.cpp", "int error = ok ? 0 : errno;", "int error = ok ? 1 : errno;",
     "read only when the commit failed, and then set"),
    ("src/device/conversions.cpp", "if (!rf64 && samples * sizeof(int16_t) > 0xFFFFFFFFu - 36) {",
     "if (!rf64 && samples * sizeof(int16_t) > 0xFFFFFFFFu - 37) {",
     "the data size is a multiple of 4, and no multiple of 4 lies between the bounds"),
    ("src/tool/jobs.cpp", "return rate == 0 ? 0 : samples * 1000000 / rate;",
     "return rate == 0 ? 0 : samples * 1000001 / rate;",
     "the progress line shows tenths of a second; a millionth more cannot show"),
    ("src/codec/searchStep.cpp", "stamp_ = 1;", "stamp_ = 2;",
     "where the hash table's generation count starts; only equality with it is asked"),
    ("src/wave/waveFile.cpp", "if (fseeko(fp, here, SEEK_SET) != 0 || end < here) return -1;",
     "if (fseeko(fp, here, SEEK_SET) != 0 || end < here) return -2;",
     "callers ask only whether the length is negative"),
    ("src/device/conversions.cpp", "samples[i] = static_cast<int16_t>((u >> 8) | (u << 8));",
     "samples[i] = static_cast<int16_t>((u >> 9) | (u << 8));",
     "compiled only on big-endian machines"),
    ("src/io/outputFile.cpp", "if (out->folder >= 0) close(out->folder);",
     "if (out->folder > 0) close(out->folder);",
     "descriptor 0 is standard input, never a folder this process opened"),
    ("src/io/inputFile.cpp", "if (fp != nullptr && fp != stdin) std::fclose(fp);",
     "if (fp != nullptr || fp != stdin) std::fclose(fp);",
     "standard input is read once, to its end, before it would be closed"),
    ("src/codec/search.cpp", "if (!variantSupported(variant)) level_.beam = 0;",
     "if (!variantSupported(variant)) level_.beam = 1;",
     "no caller makes a search encoder for a variant other than 4-bit and 2-bit"),
    ("src/codec/adpcm.h", "0, 0, 0, 0, 0, 2, 0, 0};", "0, 0, 0, 0, 0, 2, 1, 0};",
     "a column of a variant no file describes"),
    ("src/wave/waveWriter.cpp", "putLe(h + 28, dataBytes, 8);", "putLe(h + 28, dataBytes, 9);",
     "the extra byte is written over by the next field"),
    ("src/wave/waveWriter.cpp", 'std::memcpy(h, rf64 ? "RF64" : "RIFF", 4);',
     'std::memcpy(h, rf64 ? "RF64" : "RIFF", 5);', "the extra byte is written over by the size"),
    ("src/audio/sndfileReader.cpp",
     "for (const char* line = log; *line != '\\0'; line = std::strchr(line, '\\n') + 1) {",
     "for (const char* line = log; *line != '\\1'; line = std::strchr(line, '\\n') + 1) {",
     "the loop also ends after the last line, and the log holds no byte 1"),
    ("src/codec/adpcm.cpp", "stream->pendingCodes = 0;", "stream->pendingCodes = 1;",
     "the stale bit is shifted out of the byte before it is written"),
    ("src/codec/adpcm.h", "return value < -32768 ? -32768 : (value > 32767 ? 32767 : value);",
     "return value <= -32768 ? -32768 : (value > 32767 ? 32767 : value);",
     "at -32768 both sides give -32768"),
    ("src/io/outputFile.h", "uint64_t device = 0, inode = 0;  // the folder's, or the descriptor's file's",
     "uint64_t device = 1, inode = 0;  // the folder's, or the descriptor's file's",
     "every identity is built with its fields given"),
    ("src/codec/adpcm.h",
     "inline constexpr std::array<uint8_t, kVariantCount> anddata = {0x0F, 0, 0, 0, 0, 0,    0, 0,",
     "inline constexpr std::array<uint8_t, kVariantCount> anddata = {0x0F, 0, 0, 0, 1, 0,    0, 0,",
     "a column of a variant no file describes"),
    ("src/io/outputFile.cpp", "static std::atomic<uint64_t> counter{0};",
     "static std::atomic<uint64_t> counter{1};",
     "only makes fallback names differ, and only where getrandom fails"),
    ("src/codec/searchStep.cpp", "constexpr uint32_t kApart = uint32_t{127} << 17;",
     "constexpr uint32_t kApart = uint32_t{128} << 17;",
     "both lie above every pointer's key (pointers stop at 88), so neither merges"),
    ("src/tool/report.cpp",
     "if (standardOutputError == 0 && std::fflush(stdout) != 0) standardOutputError = errno;",
     "if (standardOutputError != 0 && std::fflush(stdout) != 0) standardOutputError = errno;",
     "fclose then flushes what fflush would have, and its failure is taken the same way"),
    ("src/codec/searchStep.cpp", "if (alive <= kCountingLimit) {", "if (alive < kCountingLimit) {",
     "counting and nth_element keep the same paths (keys are unique); only speed differs"),
    ("src/io/outputFile.cpp",
     "linkat(out.folder, out.temp.c_str(), out.folder, out.name.c_str(), 0) != 0) {",
     "linkat(out.folder, out.temp.c_str(), out.folder, out.name.c_str(), 0) != 1) {",
     "the fallback for file systems without RENAME_NOREPLACE, which this machine's have"),
    ("src/audio/level.cpp", "double activity = 0;", "double activity = 1;",
     "level() does not read it"),
    ("src/wave/waveWriter.cpp", "putLe(h + 28, rate * 2, 4);  // byte rate",
     "putLe(h + 28, rate * 2, 5);  // byte rate", "the extra byte is written over by the next field"),
    ("src/device/adpWriter.cpp",
     "if (length >= 0) return writeHeader(to, static_cast<int32_t>(length), rate, variant);",
     "if (length >= 1) return writeHeader(to, static_cast<int32_t>(length), rate, variant);",
     "an empty payload's header comes out the same when written at the end"),
    ("src/codec/searchStep.cpp", "if (++stamp_ == 0) {", "if (++stamp_ != 0) {",
     "the table is cleared at every step instead of at wraparound: slower, the same paths"),
    ("src/audio/resample.cpp", "const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);",
     "const soxr_runtime_spec_t runtime = soxr_runtime_spec(2);",
     "soxr's threads change its speed, not its output"),
    ("src/wave/waveWriter.cpp", "putLe(h + 24, rate, 4);", "putLe(h + 24, rate, 5);",
     "the extra byte is written over by the next field"),
    ("src/io/outputFile.cpp", "if (fd < 0) return failed(out, kStatusOutputOpen, lastError());",
     "if (fd <= 0) return failed(out, kStatusOutputOpen, lastError());",
     "descriptor 0 is standard input, never an output this process opens"),
    ("src/codec/stepStates.h", "static constexpr int kMagnitudes = 1 << kBits;",
     "static constexpr int kMagnitudes = 2 << kBits;",
     "the tables grow rows that no code indexes"),
    ("src/adpFile.cpp", "uint32_t payloadLength = 0;", "uint32_t payloadLength = 1;",
     "readAdpHeader sets it before it is read"),
    ("src/wave/waveWriter.cpp", "const bool rf64 = dataBytes > 0xFFFFFFFFu - 36;",
     "const bool rf64 = dataBytes > 0xFFFFFFFFu - 37;",
     "the data size is a multiple of 4, and no multiple of 4 lies between the bounds"),
    ("src/codec/adpcm.h", "return value < -32768 ? -32768 : (value > 32767 ? 32767 : value);",
     "return value < -32768 ? -32768 : (value >= 32767 ? 32767 : value);",
     "at 32767 both sides give 32767"),
    ("src/io/outputFile.cpp", "(void)!fchown(fd, static_cast<uid_t>(-1), replaced->st_gid);",
     "(void)fchown(fd, static_cast<uid_t>(-1), replaced->st_gid);",
     "the result is thrown away either way"),
    ("src/tool/jobs.h", "uint32_t rate = 0;", "uint32_t rate = 1;",
     "a result's rate is set before it is shown; a failure's is shown as null"),
]

RELATIONAL = {" < ": " <= ", " <= ": " < ", " > ": " >= ", " >= ": " > ", " == ": " != ",
              " != ": " == ", " && ": " || ", " || ": " && "}


def generic_mutants(root):
    """Every generic mutant of src/: (path, line index, original line, mutated line)."""
    found = []
    for folder, _, names in os.walk(os.path.join(root, "src")):
        for name in sorted(names):
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.relpath(os.path.join(folder, name), root)
            for i, line in enumerate(open(os.path.join(root, path)).read().split("\n")):
                code = line.split("//")[0]
                if not code.strip() or code.lstrip().startswith(("#", "*", "static_assert")):
                    continue
                if '"' in code:  # texts are told by the tests that read them
                    code = re.sub(r'"(\\.|[^"\\])*"', lambda m: " " * len(m.group(0)), code)
                for op, other in RELATIONAL.items():
                    for m in re.finditer(re.escape(op), code):
                        found.append((path, i, line, line[:m.start()] + other + line[m.end():]))
                for m in re.finditer(r"(?<![\w.])(\d+)(?![\w.])", code):
                    bumped = str(int(m.group(1)) + 1)
                    found.append((path, i, line, line[:m.start()] + bumped + line[m.end():]))
                for m in re.finditer(r"!(?!=)", code):
                    found.append((path, i, line, line[:m.start()] + line[m.end():]))
    return found


DEVICES = {"/dev/full": (1, 7), "/dev/null": (1, 3), "/dev/zero": (1, 5)}


def restore_devices():
    """Makes anew each of DEVICES that is not the character device it should be; returns
    their paths."""
    replaced = []
    for path, (major, minor) in DEVICES.items():
        try:
            st = os.lstat(path)
            if stat.S_ISCHR(st.st_mode) and st.st_rdev == os.makedev(major, minor):
                continue
            os.unlink(path)
        except FileNotFoundError:
            pass
        os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(major, minor))
        os.chmod(path, 0o666)
        replaced.append(path)
    return replaced


def run(cmd, cwd, timeout=None):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=timeout).returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--only", action="append",
                        help="run only the mutants whose description contains this (repeatable)")
    parser.add_argument("--jobs", default="2")
    parser.add_argument("--generic", type=int, default=0, help="draw N generic mutants")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--no-listed", action="store_true", help="leave out the listed mutants")
    args = parser.parse_args()
    top = subprocess.check_output(["git", "rev-parse", "--show-toplevel"], text=True).strip()
    files = subprocess.check_output(["git", "ls-files", "-co", "--exclude-standard"], cwd=top,
                                    text=True).split("\n")
    scratch = tempfile.mkdtemp(prefix="kestrune-mutate.")
    os.chmod(scratch, 0o755)  # some tests run the tools as an unprivileged user
    for f in filter(None, files):
        if os.path.exists(os.path.join(top, f)):
            os.makedirs(os.path.dirname(os.path.join(scratch, f)) or scratch, exist_ok=True)
            shutil.copy2(os.path.join(top, f), os.path.join(scratch, f))
    build = ["cmake", "--build", "build", "-j", args.jobs]
    if run(["cmake", "-S", ".", "-B", "build", "-DKESTRUNE_BENCHMARKS=OFF"], scratch) or run(build, scratch):
        sys.exit("the unmutated tree does not build")
    test = ["ctest", "--test-dir", "build", "-j", args.jobs, "--timeout", "300"]
    if run(test, scratch):
        failed = subprocess.run(test + ["--rerun-failed"], cwd=scratch, capture_output=True, text=True)
        sys.exit("the unmutated tree fails its tests:\n" + failed.stdout[-3000:])

    mutants = []
    if not args.no_listed:
        for path, find, replace, what in MUTANTS:
            if args.only and not any(o in what for o in args.only):
                continue
            original = open(os.path.join(scratch, path)).read()
            if original.count(find) != 1:
                sys.exit(f"{path}: the text of mutant '{what}' is not there exactly once")
            mutants.append(("listed", path, original.replace(find, replace), what, None))
    if args.generic:
        drawn = random.Random(args.seed).sample(generic_mutants(scratch),
                                               min(args.generic, len(generic_mutants(scratch))))
        equivalent = {(f, o.strip(), m.strip()): why for f, o, m, why in EQUIVALENT}
        for path, i, line, mutated in drawn:
            lines = open(os.path.join(scratch, path)).read().split("\n")
            lines[i] = mutated
            what = f"{path}:{i + 1}: {line.strip()}  =>  {mutated.strip()}"
            why = equivalent.get((path, line.strip(), mutated.strip()))
            if args.only and not any(o in what for o in args.only):
                continue
            mutants.append(("generic", path, "\n".join(lines), what, why))

    tally = {"listed": [0, 0], "generic": [0, 0]}  # killed, counted
    survivors, equivalents, uncompiled, start = [], [], 0, time.time()
    for kind, path, text, what, why in mutants:
        full = os.path.join(scratch, path)
        original = open(full).read()
        for device in restore_devices():
            print(f"{device} was not a device before this mutant; made anew", flush=True)
        open(full, "w").write(text)
        built = run(build, scratch) == 0
        dead = not built or run(test + ["--stop-on-failure"], scratch) != 0
        open(full, "w").write(original)
        for device in restore_devices():
            print(f"{device} was replaced by this mutant; made anew", flush=True)
            dead = True
        if kind == "generic" and not built:
            uncompiled += 1
            print(f"no build  {what}", flush=True)
            continue
        if why is not None:
            equivalents.append(f"{what}  ({why}{'; killed all the same' if dead else ''})")
            print(f"equivalent {what}", flush=True)
            continue
        tally[kind][0] += dead
        tally[kind][1] += 1
        if not dead:
            survivors.append(f"[{kind}] {what}")
        print(f"{'killed  ' if dead else 'SURVIVED'} [{kind}] {what}", flush=True)
    run(build, scratch)
    shutil.rmtree(scratch)
    print(f"\ndone in {time.time() - start:.0f} s")
    for kind, (killed, counted) in tally.items():
        if counted:
            print(f"{kind}: {killed} of {counted} killed ({killed / counted:.2f})")
    if uncompiled:
        print(f"generic mutants that do not compile, not counted: {uncompiled}")
    for e in equivalents:
        print("equivalent:", e)
    for s in survivors:
        print("survivor:", s)


if __name__ == "__main__":
    main()
