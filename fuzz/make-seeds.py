#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora: small valid and odd files of each kind."""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def chunk(tag, body, pad=True):
    b = tag + struct.pack("<I", len(body)) + body
    return b + (b"\0" if pad and len(body) % 2 else b"")


def declared(tag, size, body):
    return tag + struct.pack("<I", size) + body


def fmt(tag=1, channels=1, rate=8000, bits=16, extra=b""):
    align = channels * ((bits + 7) // 8)
    return struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits) + extra


def riff(*chunks, first=b"RIFF"):
    body = b"WAVE" + b"".join(chunks)
    return first + struct.pack("<I", len(body)) + body


def samples(values):
    return struct.pack("<%dh" % len(values), *values)


TONE = samples([int(6000 * math.sin(i * 0.3)) for i in range(40)])
FMT = chunk(b"fmt ", fmt())

waves = {
    "canonical.wav": riff(FMT, chunk(b"data", TONE)),
    "rate32000.wav": riff(chunk(b"fmt ", fmt(rate=32000)), chunk(b"data", TONE)),
    "fmt18.wav": riff(chunk(b"fmt ", fmt(extra=b"\0\0")), chunk(b"data", TONE)),
    "fmt17-nopad.wav": riff(chunk(b"fmt ", fmt(extra=b"\1"), pad=False), chunk(b"data", TONE)),
    "extensible.wav": riff(chunk(b"fmt ", fmt(tag=0xFFFE, extra=b"\x16\0" + b"\0" * 22)), chunk(b"data", TONE)),
    "list-between.wav": riff(FMT, chunk(b"LIST", b"INFOISFT\5\0\0\0kest\0"), chunk(b"data", TONE)),
    "odd-padded.wav": riff(FMT, chunk(b"note", b"abc"), chunk(b"data", TONE)),
    "odd-unpadded.wav": riff(FMT, chunk(b"note", b"abc", pad=False), chunk(b"data", TONE)),
    "trailing-list.wav": riff(FMT, chunk(b"data", TONE), chunk(b"LIST", b"x" * 26)),
    "placeholder.wav": riff(FMT, declared(b"data", 0xFFFFFFFF, TONE)),
    "truncated.wav": riff(FMT, declared(b"data", 1000, TONE[:20])),
    "huge-list.wav": riff(FMT, declared(b"LIST", 0x80000000, b"ab"), chunk(b"data", TONE)),
    "stereo.wav": riff(chunk(b"fmt ", fmt(channels=2)), chunk(b"data", TONE)),
    "8bit.wav": riff(chunk(b"fmt ", fmt(bits=8)), chunk(b"data", TONE)),
    "rifx.wav": riff(FMT, chunk(b"data", TONE), first=b"RIFX"),
    "empty-data.wav": riff(FMT, chunk(b"data", b"")),
}


def adp(four_bit, rate, payload, length=None):
    n = len(payload) if length is None else length
    desc = b"\x80\x01\x01\x04" if four_bit else b"\x80\x00\x01\x02"
    return b"Audi" + desc + struct.pack(">HHI", rate, 0, n) + payload


adps = {
    "four-bit.adp": adp(True, 8000, bytes([0x77, 0x77, 0x38, 0x08, 0x80, 0x80, 0x08, 0x80])),
    "two-bit.adp": adp(False, 16000, bytes([0x55, 0x55, 0x56, 0x22])),
    "trailing.adp": adp(True, 4000, b"\x12\x34", length=1),
    "short.adp": adp(True, 8000, b"\x12", length=4),
    "empty.adp": adp(False, 32000, b""),
    "full-scale.adp": adp(True, 32000, b"\x7f\xff\x0f\xf0" * 8),
}

codec = {
    "silence.bin": b"\0" + b"\0" * 64,
    "full-scale.bin": b"\3" + samples([32767, -32768] * 16),
    "tone.bin": b"\x07" + TONE,
}

# For the listening page: input path, warning, device file and source, split at zero bytes.
pages = {
    "plain.bin": b"\0".join([b"rec/a.wav", b"clipped", adps["four-bit.adp"], b"fLaC"]),
    "hostile.bin": b"\0".join([b"a<!--KESTRUNE_AUDIO--><img src=x onerror=alert(1)>.wav",
                               b"</script><!--<script>&amp;", b"\xff\xfe<!--", b"",
                               b"b\xff\xc3.wav", b"/*KESTRUNE_DATA*/", b"x", b"y"]),
}

def image(files, align=4):
    at, index, body = 16 + 8 * len(files), b"", b""
    for f in files:
        at = (at + align - 1) // align * align
        index += struct.pack(">II", at, len(f))
        body += b"\0" * (at - 16 - 8 * len(files) - len(body)) + f
        at += len(f)
    return b"KPAK" + struct.pack(">HHII", 1, align, len(files), 16 + len(index) + len(body)) + index + body


pack = {
    "image.bin": image([adps["four-bit.adp"], adps["two-bit.adp"]]),
    "aligned.bin": image([adps["empty.adp"], adps["four-bit.adp"]], align=64),
    "device.adp": adps["four-bit.adp"],
    "list.txt": b"# prompts\nhello\n  bye.wav \r\n\n/abs/path.adp\n",
}

for folder, files in (("wave_reader", waves), ("conversion", waves), ("decoder", adps), ("codec", codec),
                      ("listening_page", pages), ("pack", pack)):
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)
