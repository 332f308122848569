// The Python module `kestrune`: the library's encoder, decoder, header reader, quality
// measure and whole pipeline on numpy arrays, bytes and paths. Failures raise kestrune.Error, whose
// `error` is the library's Error by name ("invalid_rate", ...); the GIL is released while coding.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>

#include "kestrune/kestrune.hpp"
#include "kestrune/recording.hpp"

namespace py = pybind11;
using kestrune::Error;

namespace {

py::object errorType;

[[noreturn]] void raise(Error e, const std::string& reason = "") {
    py::object error = errorType(reason.empty() ? kestrune::message(e) : reason);
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

// A recording through the whole pipeline, as `kestrune-adpcm encode` takes it: the
// device file, and what the tool's JSON says of it.
struct Encoded {
    py::bytes data;
    kestrune::Report report;
};

Encoded encodeFile(const std::string& path, std::optional<uint32_t> rate, int bits, int level,
                   const std::string& tune, int channel, double gain,
                   std::optional<double> normalize, std::optional<double> loudness,
                   std::optional<double> speechLevel, std::optional<double> peak,
                   std::optional<double> trim, double trimMargin, bool measure) {
    const kestrune::RecordingOptions options{
        rate.value_or(0), bits, level, tuneNamed(tune), channel, gain, normalize, loudness,
        speechLevel,      peak, trim,  trimMargin,      measure};
    Encoded e;
    kestrune::Result<std::vector<uint8_t>> file = Error::none;
    {
        py::gil_scoped_release unlocked;
        file = kestrune::encodeRecording(path, options, &e.report);
    }
    if (!file) raise(file.error(), e.report.reason);
    e.data = py::bytes(reinterpret_cast<const char*>(file->data()), file->size());
    return e;
}

// A Report's field, read from an Encoded.
template <auto Field>
auto field() {
    return [](const Encoded& e) { return e.report.*Field; };
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

    using R = kestrune::Report;
    py::class_<Encoded>(m, "Result")
        .def_readonly("data", &Encoded::data)
        .def_property_readonly("rate", field<&R::rate>())
        .def_property_readonly("bits", field<&R::bits>())
        .def_property_readonly("level", field<&R::level>())
        .def_property_readonly("tune",
                               [](const Encoded& e) {
                                   return e.report.tune == kestrune::Tune::snr ? "snr"
                                                                               : "perceptual";
                               })
        .def_property_readonly("samples", field<&R::samples>())
        .def_property_readonly("bytes", field<&R::bytes>())
        .def_property_readonly("snr_db", field<&R::snrDb>())
        .def_property_readonly("segsnr_db", field<&R::segmentalSnrDb>())
        .def_property_readonly("wsnr_db", field<&R::weightedSnrDb>())
        .def_property_readonly("clipped", field<&R::clipped>())
        .def_property_readonly("nonfinite", field<&R::nonFinite>())
        .def_property_readonly("loudness_in", field<&R::loudnessIn>())
        .def_property_readonly("loudness_out", field<&R::loudnessOut>())
        .def_property_readonly("gain_db", field<&R::gainDb>())
        .def_property_readonly("limited", field<&R::limited>())
        .def_property_readonly("trim_start_ms", field<&R::trimStartMs>())
        .def_property_readonly("trim_end_ms", field<&R::trimEndMs>())
        .def_property_readonly("playback_peak_dbfs", field<&R::playbackPeakDbfs>())
        .def_property_readonly("headroom_db", field<&R::headroomDb>())
        .def_property_readonly("warnings", field<&R::warnings>());

    m.def("encode", &encode, py::arg("samples"), py::arg("rate"), py::arg("bits") = 4,
          py::arg("level") = kestrune::kDefaultLevel, py::arg("tune") = "perceptual",
          "The whole device file (bytes) for mono 16-bit samples at a rate the device plays.");
    const kestrune::RecordingOptions d;
    m.def("encode_file", &encodeFile, py::arg("path"), py::kw_only(), py::arg("rate") = py::none(),
          py::arg("bits") = d.bits, py::arg("level") = d.level, py::arg("tune") = "perceptual",
          py::arg("channel") = d.channel, py::arg("gain") = d.gainDb,
          py::arg("normalize") = py::none(), py::arg("loudness") = py::none(),
          py::arg("speech_level") = py::none(), py::arg("peak") = py::none(),
          py::arg("trim") = py::none(), py::arg("trim_margin") = d.trimMarginMs,
          py::arg("measure") = d.measure,
          "A recording of any format through mixing, resampling, levelling, limiting and "
          "trimming into a device file, as `kestrune-adpcm encode` makes it: a Result with the "
          "file's bytes (data) and the keys of the tool's JSON. rate None: the tool's default.");
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
