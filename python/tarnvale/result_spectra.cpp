// Spectrum and ImsSpectrum: decoded arrays kept in native form; the Python lists
// are built on every attribute access.
#include "tarnvale/results.hpp"

namespace tarnvale::py {

namespace {

constexpr const char* kMzDoc = "Calibrated m/z values (Da).";

// Length only (no item access): indexing and iteration raise TypeError, and the
// truth value follows the length.
template <class T> Py_ssize_t peak_count(PyObject* self) {
    return static_cast<Py_ssize_t>(unbox<T>(self).mz.size());
}

PyObject* spectrum_repr(PyObject* self) {
    return PyUnicode_FromFormat("Spectrum(%zd peaks)", peak_count<raw::Spectrum>(self));
}

PyObject* ims_spectrum_repr(PyObject* self) {
    return PyUnicode_FromFormat("ImsSpectrum(%zd ions)", peak_count<raw::ImsSpectrum>(self));
}

PyGetSetDef spectrum_getset[] = {
    read_only("mz", field_getter<raw::Spectrum, &raw::Spectrum::mz>, kMzDoc),
    read_only("intensity", field_getter<raw::Spectrum, &raw::Spectrum::intensity>, "Intensity values."),
    {},
};

PyGetSetDef ims_spectrum_getset[] = {
    read_only("mz", field_getter<raw::ImsSpectrum, &raw::ImsSpectrum::mz>, kMzDoc),
    read_only("drift_time_ms", field_getter<raw::ImsSpectrum, &raw::ImsSpectrum::drift_time_ms>,
              "Ion drift times (ms)."),
    read_only("intensity", field_getter<raw::ImsSpectrum, &raw::ImsSpectrum::intensity>,
              "Intensity values (raw ion counts)."),
    {},
};

} // namespace

ResultClass<raw::Spectrum> spectrum_class{
    "builtins.Spectrum",
    "A decoded 1-D mass spectrum (m/z vs intensity).\n"
    "\n"
    "Returned by `RawReader.read_spectrum()` for Encoding A and C functions.",
    spectrum_repr, spectrum_getset, peak_count<raw::Spectrum>};

ResultClass<raw::ImsSpectrum> ims_spectrum_class{
    "builtins.ImsSpectrum",
    "A decoded IMS spectrum: m/z, drift time, and intensity per ion.\n"
    "\n"
    "Returned by `RawReader.read_ims_spectrum()` for Encoding B (SYNAPT) functions.",
    ims_spectrum_repr, ims_spectrum_getset, peak_count<raw::ImsSpectrum>};

} // namespace tarnvale::py
