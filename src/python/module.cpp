// The Python module `kestrune`: the library's encoder, decoder, header reader and quality
// measure on numpy arrays and bytes. Failures raise kestrune.Error, whose `error` is the
// library's Error by name ("invalid_rate", ...); the GIL is released while coding.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>

#include "kestrune/kestrune.hpp"

namespace py = pybind11;
using kestrune::Error;

namespace {

py::object errorType;

[[noreturn]] void raise(Error e) {
    py::object error = errorType(kestrune::message(e));
    error.attr("error") = kestrune::name(e);
    PyErr_SetObject(errorType.ptr(), error.ptr());
    throw py::error_already_set();
}

template <class T>
T take(kestrune::Result<T>&& r) {
    if (!r) raise(r.error());
    return std::move(*r);
}

using Samples = py::array_t<int16_t, py::array::c_style | py::array::forcecast>;

std::span<const int16_t> view(const Samples& samples) {
    if (samples.ndim() != 1) throw py::value_error("samples must be one-dimensional (mono)");
    return {samples.data(), static_cast<std::size_t>(samples.size())};
}

std::span<const uint8_t> view(const py::buffer_info& b) {
    return {static_cast<const uint8_t*>(b.ptr), static_cast<std::size_t>(b.size * b.itemsize)};
}

kestrune::Tune tuneNamed(const std::string& name) {
    if (name == "perceptual") return kestrune::Tune::perceptual;
    if (name == "snr") return kestrune::Tune::snr;
    raise(Error::invalid_tune);
}

py::bytes encode(const Samples& samples, uint32_t rate, int bits, int level,
                 const std::string& tune) {
    const kestrune::EncoderOptions options{rate, bits, level, tuneNamed(tune)};
    const std::span<const int16_t> in = view(samples);
    kestrune::Result<std::vector<uint8_t>> file = Error::none;
    {
        py::gil_scoped_release unlocked;
        file = kestrune::encodeFile(in, options);
    }
    const std::vector<uint8_t> bytes = take(std::move(file));
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

py::array_t<int16_t> decode(const py::buffer& data) {
    const py::buffer_info b = data.request();
    kestrune::Result<std::vector<int16_t>> samples = Error::none;
    {
        py::gil_scoped_release unlocked;
        samples = kestrune::decodeFile(view(b));
    }
    const std::vector<int16_t> out = take(std::move(samples));
    return py::array_t<int16_t>(static_cast<py::ssize_t>(out.size()), out.data());
}

}  // namespace

PYBIND11_MODULE(kestrune, m) {
    m.doc() = "Encode audio into the Kestrune voice-playback device's ADPCM files, and back.";
    errorType = py::reinterpret_borrow<py::object>(
        PyErr_NewException("kestrune.Error", PyExc_ValueError, nullptr));
    m.attr("Error") = errorType;
    m.attr("__version__") = kestrune::version();
    m.attr("RATES") = py::tuple(
        py::cast(std::vector<uint32_t>(kestrune::kRates.begin(), kestrune::kRates.end())));
    m.attr("LEVELS") = kestrune::kLevels;
    m.attr("DEFAULT_LEVEL") = kestrune::kDefaultLevel;

    py::class_<kestrune::Header>(m, "Header")
        .def_readonly("rate", &kestrune::Header::rate)
        .def_readonly("bits", &kestrune::Header::bits)
        .def_readonly("payload_bytes", &kestrune::Header::payloadBytes)
        .def_property_readonly("samples", &kestrune::Header::samples);
    py::class_<kestrune::Quality>(m, "Quality")
        .def_readonly("snr_db", &kestrune::Quality::snrDb)
        .def_readonly("segmental_snr_db", &kestrune::Quality::segmentalSnrDb)
        .def_readonly("weighted_snr_db", &kestrune::Quality::weightedSnrDb);

    m.def("encode", &encode, py::arg("samples"), py::arg("rate"), py::arg("bits") = 4,
          py::arg("level") = kestrune::kDefaultLevel, py::arg("tune") = "perceptual",
          "The whole device file (bytes) for mono 16-bit samples at a rate the device plays.");
    m.def("decode", &decode, py::arg("data"),
          "The samples (int16 array) the device plays for a whole device file.");
    m.def(
        "read_header",
        [](const py::buffer& data) { return take(kestrune::readHeader(view(data.request()))); },
        py::arg("data"), "What a device file's header says.");
    m.def(
        "measure",
        [](const Samples& source, const Samples& played, uint32_t rate) {
            const std::span<const int16_t> a = view(source), b = view(played);
            if (a.size() != b.size()) throw py::value_error("source and played differ in length");
            py::gil_scoped_release unlocked;
            return kestrune::measure(a, b, rate);
        },
        py::arg("source"), py::arg("played"), py::arg("rate"),
        "SNR, segmental SNR and weighted SNR in dB of what is played against the source.");
}
