"""The Python module against the tool: the same bytes, the same playback, the library's
errors as kestrune.Error. Run by pytest with the module and KESTRUNE_ADPCM (the tool) given."""
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


@pytest.mark.parametrize("call, error", [
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


def test_encoding_lets_other_threads_run(prompt):
    samples = np.tile(prompt[0], 4)
    ticks = []
    worker = threading.Thread(target=lambda: kestrune.encode(samples, 16000))
    worker.start()
    while worker.is_alive():
        ticks.append(1)
        worker.join(0.001)
    assert len(ticks) > 10
