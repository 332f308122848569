#!/usr/bin/env python3
"""Mutation run: how many single faults planted in src/ the test suite catches.

Copies the working tree to a scratch folder, builds it once, then for each mutant below
applies one edit, rebuilds, runs the whole suite, and restores the file. A mutant is
killed when the build fails or a test fails; it survives when every test passes.

    tools/mutate.py [--only SUBSTRING] [--jobs N]

Prints each survivor and the killed ratio. Needs what the tests need (sox, ffmpeg).
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

# (file, text to find, replacement, what the fault is). The text must occur exactly once.
MUTANTS = [
    # Faults the suite once let through.
    ("src/adpFile.cpp", "if (got < want && (lengthKnown || std::ferror(from))) {",
     "if (got < want && lengthKnown) {", "a read error on pipe input taken for its end"),
    ("src/adpFile.cpp", "status = std::ferror(from) ? kStatusRead : kStatusFormat;",
     "status = kStatusFormat;", "the decoder's payload read error reported as a format error"),
    ("src/adpFile.cpp", "*payloadLength = (static_cast<uint32_t>(h[12]) << 24)",
     "*payloadLength = (static_cast<uint32_t>(h[11]) << 24)", "length's top byte read from byte 11"),
    ("src/adpFile.cpp", 'if (dataBytes > 0xFFFFFFFFu - 36) return "payload too long for a WAVE file";',
     "", "no check that a decoded WAV's sizes fit 32 bits"),
    ("src/outputFile.cpp", "ok = fchmod(fd, replaced->st_mode & 0777) == 0;",
     "ok = fchmod(fd, replaced->st_mode & 07777) == 0;", "set-id and sticky bits kept"),
    ("src/outputFile.cpp", "ok = (ioHooks.close(out->fp) == 0) && ok;", "ioHooks.close(out->fp);",
     "fclose's result ignored on commit"),
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
    ("src/codec/search.cpp", "k == referenceChild ? kApart : (uint32_t{pointer} << 17) | bucket;",
     "(uint32_t{pointer} << 17) | bucket;", "the reference's path merged away"),
    ("src/codec/search.cpp", "static_cast<uint32_t>(same) & static_cast<uint32_t>(candKey[held] < candKey[k]);",
     "static_cast<uint32_t>(same) & static_cast<uint32_t>(candKey[held] > candKey[k]);",
     "a merge keeps the worse path"),
    ("src/codec/search.cpp", "    const std::size_t best = bestOf(atByte_, survivors_, reference_);",
     "    const std::size_t best = bestOf(cost_, survivors_, reference_);",
     "the end chosen by the cost of codes not written"),
    ("src/codec/search.cpp", "    settled_ += shared;\n", "", "predicted error forgets committed cost"),
    ("src/codec/quality.cpp", "constexpr double kFrameFloorDb = -10;", "constexpr double kFrameFloorDb = -20;",
     "segmental SNR floor moved"),
    # Files and formats.
    ("src/adpFile.cpp", 'header[5] = variant == kVariant4Bit ? 0x01 : 0x00;',
     'header[5] = variant == kVariant4Bit ? 0x00 : 0x01;', "header byte 5 swapped"),
    ("src/adpFile.cpp", "header[8] = static_cast<uint8_t>(rate >> 8);",
     "header[8] = static_cast<uint8_t>(rate >> 7);", "rate's high byte wrong"),
    ("src/adpFile.cpp", "if (f.bitsPerSample != 16) return kStatusFormat;", "",
     "sample width not checked"),
    ("src/adpFile.cpp", "if (!rateAccepted(f.sampleRate)) return kStatusRate;", "",
     "sample rate not checked"),
    ("src/adpFile.cpp", "lengthKnown ? std::min<uint64_t>(declared, static_cast<uint64_t>(left)) : declared;",
     "lengthKnown ? static_cast<uint64_t>(left) : declared;", "chunks after the data encoded"),
    ("src/adpFile.cpp", "if (left >= 0 && static_cast<uint64_t>(left) < info->payloadLength) {",
     "if (left >= 0 && static_cast<uint64_t>(left) + 1 < info->payloadLength) {",
     "a payload one byte short accepted"),
    ("src/adpFile.cpp", "putLe(h + 28, rate * 2, 4);  // byte rate", "putLe(h + 28, rate, 4);",
     "WAV byte rate wrong"),
    ("src/adpFile.cpp", "const int status = writeHeader(w->to, length, w->rate, w->variant);",
     "const int status = writeHeader(w->to, 0, w->rate, w->variant);", "held codes get length 0"),
    ("src/wave/waveFile.cpp", "if (size < kFormatFieldBytes) return kWaveBadStructure;",
     "if (size < kFormatFieldBytes - 1) return kWaveBadStructure;", "15-byte format chunk taken"),
    ("src/wave/waveFile.cpp", "if (c != 0 && std::ungetc(c, fp) == EOF) return false;",
     "if (std::ungetc(c, fp) == EOF) return false;", "a zero pad byte read as a tag"),
    ("src/wave/waveFile.cpp", 'if (tagIs(tag, "fmt ")) return kWaveBadStructure;', "",
     "a second format chunk skipped"),
    ("src/adpFile.h", "constexpr std::array<uint32_t, 8> kAcceptedRates = {4000,  5300,",
     "constexpr std::array<uint32_t, 8> kAcceptedRates = {4000,  5330,", "a device rate wrong"),
    # Safe output and the run.
    ("src/outputFile.cpp", "return (blocks || chars) && a.st_rdev == b.st_rdev;", "return false;",
     "the same device by two nodes not refused"),
    ("src/outputFile.cpp", 'if (folder == proc + "/fd") return true;', "if (false) return true;",
     "/dev/stdout taken for a file to replace"),
    ("src/outputFile.cpp", "if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) return;",
     "if (sigaction(sig, nullptr, &old) != 0) return;", "ignored signals caught"),
    ("src/outputFile.cpp", "sa.sa_handler = sig == SIGXFSZ ? SIG_IGN : removeTempsAndDie;",
     "sa.sa_handler = removeTempsAndDie;", "a file-size limit kills the run"),
    ("src/outputFile.cpp", "out->canSeek = (flags & O_APPEND) == 0 && lseek(fd, 0, SEEK_CUR) >= 0;",
     "out->canSeek = lseek(fd, 0, SEEK_CUR) >= 0;", "appending output taken as seekable"),
    ("src/outputFile.cpp", "if (folder >= 0) unlinkat(folder, s.name, 0);", "",
     "a signal leaves the temporary file"),
    ("src/outputFile.cpp", "refused = refused || (exists && input != nullptr && sameFile(st, *input));",
     "", "the input overwritten by its own output"),
    ("src/outputFile.cpp", "constexpr int kMaxLinks = 40;", "constexpr int kMaxLinks = 0;",
     "links not followed"),
    ("src/outputFile.cpp", "if (fstat(fileno(*fp), &st) != 0 || S_ISDIR(st.st_mode)) {",
     "if (fstat(fileno(*fp), &st) != 0) {", "a folder taken as input"),
    ("src/convertFiles.cpp", "FILE* to = outputIsStdout ? stderr : stdout;", "FILE* to = stdout;",
     "status line inside data on standard output"),
    ("src/messages.cpp", "return status == kStatusUsage ? 2 : 1;", "return 1;",
     "usage error exits 1"),
    # Audio input and the modern tool.
    ("src/audio/audioInput.cpp", "mono_[f] = v * share;", "mono_[f] = v;",
     "channels summed, not averaged"),
    ("src/audio/audioInput.cpp", "clipped_ += kept != rounded;", "", "clipped samples not counted"),
    ("src/audio/audioInput.cpp", "if (rate <= sourceRate) best = rate;", "if (rate < sourceRate) best = rate;",
     "a device-rate source resampled down"),
    ("src/audio/audioInput.cpp", "const std::size_t c = channel_ > 0 ? static_cast<std::size_t>(channel_ - 1) : 0;",
     "const std::size_t c = 0;", "--channel ignored"),
    ("src/tool/main.cpp", 'if (!output.empty() && inputs.size() != 1) throw UsageError{"-o takes a single input; use -d"};',
     "", "-o with many inputs"),
    ("src/tool/main.cpp", "if (!r.ok) return 1;", "if (!r.ok) return 0;", "failures exit 0"),
    ("src/tool/jobs.cpp", "meter.add(queue.front(n), played);",
     "meter.add(queue.front(n).subspan(0, n / 2), played);", "SNR measured on half the samples"),
]


def run(cmd, cwd, timeout=None):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=timeout).returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--only", help="run the mutants whose description contains this")
    parser.add_argument("--jobs", default="2")
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

    mutants = [m for m in MUTANTS if not args.only or args.only in m[3]]
    killed, survivors, start = 0, [], time.time()
    for path, find, replace, what in mutants:
        full = os.path.join(scratch, path)
        original = open(full).read()
        if original.count(find) != 1:
            sys.exit(f"{path}: the text of mutant '{what}' is not there exactly once")
        open(full, "w").write(original.replace(find, replace))
        dead = run(build, scratch) != 0 or run(test + ["--stop-on-failure"], scratch) != 0
        open(full, "w").write(original)
        killed += dead
        if not dead:
            survivors.append(f"{path}: {what}")
        print(f"{'killed  ' if dead else 'SURVIVED'} {what}", flush=True)
    run(build, scratch)
    shutil.rmtree(scratch)
    print(f"\n{killed} of {len(mutants)} mutants killed ({100.0 * killed / len(mutants):.0f}%) "
          f"in {time.time() - start:.0f} s")
    for s in survivors:
        print("survivor:", s)


if __name__ == "__main__":
    main()
