"""The Python module against the tool: the same bytes, the same playback, the library's
errors as kestrune.Error. Run by pytest with the module and KESTRUNE_ADPCM (the tool) given."""
import json
import os
import subprocess
import threading

import numpy as np
import pytest

import kestrune

TOOL = os.environ["KESTRUNE_ADPCM"]
PROMPT = os.path.join(os.path.dirname(__file__), "..", "examples", "prompt.wav")


def wav_samples(path):
    data = open(path, "rb").read()
    return np.frombuffer(data[44:], dtype="<i2")


@pytest.fixture(scope="module")
def prompt(tmp_path_factory):
    """The bundled prompt's samples, with the device file and playback the tool makes."""
    d = tmp_path_factory.mktemp("prompt")
    subprocess.run([TOOL, "encode", "--quiet", "-b", "2", "-q", "3", "--tune", "snr", PROMPT,
                    "-o", d / "k.adp"], check=True)
    subprocess.run([TOOL, "decode", "--quiet", d / "k.adp", "-o", d / "k.wav"], check=True)
    return wav_samples(PROMPT), (d / "k.adp").read_bytes(), wav_samples(d / "k.wav")


def test_encodes_and_decodes_as_the_tool(prompt):
    samples, device_file, played = prompt
    assert kestrune.encode(samples, 16000, bits=2, level=3, tune="snr") == device_file
    assert np.array_equal(kestrune.decode(device_file), played)
    header = kestrune.read_header(device_file)
    assert (header.rate, header.bits, header.samples) == (16000, 2, len(played))
    q = kestrune.measure(samples[:len(played)], played, 16000)
    assert 5 < q.snr_db < 40 and q.segmental_snr_db > 0


def test_readme_example_runs_as_written(prompt, tmp_path, monkeypatch):
    readme = open(os.path.join(os.path.dirname(PROMPT), "..", "README.md")).read()
    example = readme[readme.index("    import kestrune"):].split("\n\n")[0]
    monkeypatch.chdir(tmp_path)
    os.mkdir("examples")
    os.symlink(os.path.abspath(PROMPT), "examples/prompt.wav")
    exec("\n".join(line[4:] for line in example.splitlines()), {"samples": prompt[0]})
    assert kestrune.read_header(open("prompt.adp", "rb").read()).rate == 16000


@pytest.mark.parametrize("args, options", [
    (["-q", "1", "-b", "2", "-r", "8000", "--loudness", "-12", "--trim=-40"],
     dict(rate=8000, bits=2, level=1, loudness=-12, trim=-40)),
    (["-q", "0", "--gain", "9", "--tune", "snr"], dict(level=0, gain=9, tune="snr")),
])
def test_encode_file_gives_what_the_tool_gives(tmp_path, args, options):
    out = tmp_path / "k.adp"
    tool = subprocess.run([TOOL, "encode", "--quiet", "--json", *args, PROMPT, "-o", out],
                          check=True, capture_output=True)
    expected = json.loads(tool.stdout)[0]
    result = kestrune.encode_file(PROMPT, **options)
    assert result.data == out.read_bytes()
    for key in ("rate", "bits", "level", "tune", "samples", "bytes", "clipped", "nonfinite",
                "limited", "warnings"):
        assert getattr(result, key) == expected[key], key
    for key in ("snr_db", "segsnr_db", "wsnr_db", "loudness_in", "loudness_out", "gain_db",
                "trim_start_ms", "trim_end_ms"):
        value = getattr(result, key)
        assert value == expected[key] or value == pytest.approx(expected[key], abs=0.051), key


@pytest.mark.parametrize("call, error", [
    (lambda: kestrune.encode_file("/nonexistent.wav"), "cannot_open"),
    (lambda: kestrune.encode_file(PROMPT + "\0.x"), "cannot_open"),
    (lambda: kestrune.encode_file(PROMPT, channel=2), "invalid_channel"),
    (lambda: kestrune.encode_file(PROMPT, loudness=-100), "invalid_option"),
    (lambda: kestrune.encode(np.zeros(8, np.int16), 44100), "invalid_rate"),
    (lambda: kestrune.encode(np.zeros(8, np.int16), 8000, bits=3), "invalid_bits"),
    (lambda: kestrune.encode(np.zeros(8, np.int16), 8000, level=kestrune.LEVELS), "invalid_level"),
    (lambda: kestrune.encode(np.zeros(8, np.int16), 8000, tune="loud"), "invalid_tune"),
    (lambda: kestrune.decode(b"RIFF" + bytes(20)), "not_device_file"),
    (lambda: kestrune.read_header(b"Audi"), "not_device_file"),
])
def test_errors_carry_the_library_error(call, error):
    with pytest.raises(kestrune.Error) as raised:
        call()
    assert raised.value.error == error


@pytest.mark.parametrize("encode", [
    lambda samples: kestrune.encode(np.tile(samples, 4), 16000),
    lambda samples: kestrune.encode_file(PROMPT, level=7),
])
def test_encoding_lets_other_threads_run(prompt, encode):
    ticks = []
    worker = threading.Thread(target=lambda: encode(prompt[0]))
    worker.start()
    while worker.is_alive():
        ticks.append(1)
        worker.join(0.001)
    assert len(ticks) > 10
