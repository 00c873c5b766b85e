// Spectrum and ImsSpectrum: decoded arrays kept in native form; the Python lists
// are built on every attribute access.
#include "box.hpp"
#include "results.hpp"

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

PyType_Slot spectrum_slots[] = {
    {Py_tp_doc, const_cast<char*>("A decoded 1-D mass spectrum (m/z vs intensity).\n"
                                  "\n"
                                  "Returned by `RawReader.read_spectrum()` for Encoding A and C functions.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(box_dealloc<raw::Spectrum>)},
    {Py_tp_repr, reinterpret_cast<void*>(spectrum_repr)},
    {Py_tp_getset, spectrum_getset},
    {Py_sq_length, reinterpret_cast<void*>(peak_count<raw::Spectrum>)},
    {0, nullptr},
};

PyType_Slot ims_spectrum_slots[] = {
    {Py_tp_doc,
     const_cast<char*>("A decoded IMS spectrum: m/z, drift time, and intensity per ion.\n"
                       "\n"
                       "Returned by `RawReader.read_ims_spectrum()` for Encoding B (SYNAPT) functions.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(box_dealloc<raw::ImsSpectrum>)},
    {Py_tp_repr, reinterpret_cast<void*>(ims_spectrum_repr)},
    {Py_tp_getset, ims_spectrum_getset},
    {Py_sq_length, reinterpret_cast<void*>(peak_count<raw::ImsSpectrum>)},
    {0, nullptr},
};

PyType_Spec spectrum_type_spec = {
    "builtins.Spectrum", sizeof(Box<raw::Spectrum>), 0, kResultTypeFlags, spectrum_slots,
};

PyType_Spec ims_spectrum_type_spec = {
    "builtins.ImsSpectrum", sizeof(Box<raw::ImsSpectrum>), 0, kResultTypeFlags, ims_spectrum_slots,
};

} // namespace

PyType_Spec& spectrum_spec() { return spectrum_type_spec; }
PyType_Spec& ims_spectrum_spec() { return ims_spectrum_type_spec; }

PyObject* new_spectrum(raw::Spectrum spectrum) { return box_new(ClassId::Spectrum, std::move(spectrum)); }

PyObject* new_ims_spectrum(raw::ImsSpectrum spectrum) {
    return box_new(ClassId::ImsSpectrum, std::move(spectrum));
}

} // namespace tarnvale::py
