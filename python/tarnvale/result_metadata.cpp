// RunHeader and FunctionInfo: the text fields of _HEADER.TXT and one record of
// _FUNCTNS.INF.
#include <format>
#include <string>

#include "display.hpp"
#include "numbers.hpp"
#include "tarnvale/results.hpp"

namespace tarnvale::py {

namespace {

using raw::FunctionInfo;
using raw::Header;

// An absent field shows as an empty quoted string.
PyObject* run_header_repr(PyObject* self) {
    return guarded([self] {
        const Header& header = unbox<Header>(self);
        std::string text = "RunHeader(instrument=" + debug_quote(header.instrument.value_or("")) +
                           ", acquired_date=" + debug_quote(header.acquired_date.value_or("")) + ")";
        return to_py_str(text);
    });
}

PyObject* function_info_repr(PyObject* self) {
    return guarded([self] {
        const FunctionInfo& info = unbox<FunctionInfo>(self);
        std::string text =
            std::format("FunctionInfo(index={}, mz=[{},{}], scan_subtype={:#04x}, lock_mass={})", info.index,
                        format_fixed(info.mz_low, 0), format_fixed(info.mz_high, 0),
                        static_cast<unsigned>(info.scan_subtype), info.is_lock_mass());
        return to_py_str(text);
    });
}

// Derived from bit 7 of scan_subtype on every access.
PyObject* get_is_lock_mass(PyObject* self, void*) {
    return PyBool_FromLong(unbox<FunctionInfo>(self).is_lock_mass());
}

PyGetSetDef run_header_getset[] = {
    read_only("version", field_getter<Header, &Header::version>,
              "MassLynx file format version string (e.g. `\"01.00\"`)."),
    read_only("acquired_name", field_getter<Header, &Header::acquired_name>,
              "Sample or acquisition file name recorded at collection time."),
    read_only("acquired_date", field_getter<Header, &Header::acquired_date>,
              "Acquisition date string (e.g. `\"14-Jan-2021\"`)."),
    read_only("acquired_time", field_getter<Header, &Header::acquired_time>,
              "Acquisition time string (e.g. `\"16:20:52\"`)."),
    read_only("instrument", field_getter<Header, &Header::instrument>,
              "Instrument identifier string (e.g. `\"QTOF\"`, `\"XEVO-G2XSQTOF#NotSet\"`)."),
    read_only("operator", field_getter<Header, &Header::operator_>,
              "Operator / user name recorded at collection time."),
    read_only("sample_description", field_getter<Header, &Header::sample_description>,
              "Free-text sample description field."),
    {},
};

PyGetSetDef function_info_getset[] = {
    read_only("index", field_getter<FunctionInfo, &FunctionInfo::index>, "1-based function index."),
    read_only("function_type", field_getter<FunctionInfo, &FunctionInfo::function_type>,
              "Raw function type code (always 0x12 in known corpus)."),
    read_only("scan_subtype", field_getter<FunctionInfo, &FunctionInfo::scan_subtype>,
              "Scan subtype byte; bit 7 set means lock-mass channel."),
    read_only("cycle_time_s", field_getter<FunctionInfo, &FunctionInfo::cycle_time_s>,
              "Total slot duration per scan cycle (seconds)."),
    read_only("interscan_delay_s", field_getter<FunctionInfo, &FunctionInfo::interscan_delay_s>,
              "Idle time between end of one scan and start of the next (seconds)."),
    read_only("scan_time_s", field_getter<FunctionInfo, &FunctionInfo::scan_time_s>,
              "Data collection time per scan (seconds)."),
    read_only("tof_depth", field_getter<FunctionInfo, &FunctionInfo::tof_depth>,
              "Number of TDC bins per pusher pulse."),
    read_only("mz_low", field_getter<FunctionInfo, &FunctionInfo::mz_low>,
              "Acquisition m/z lower bound (Da)."),
    read_only("mz_high", field_getter<FunctionInfo, &FunctionInfo::mz_high>,
              "Acquisition m/z upper bound (Da)."),
    read_only("is_lock_mass", get_is_lock_mass,
              "True if this is a lock-mass / reference channel (bit 7 of scan_subtype)."),
    {},
};

} // namespace

ResultClass<Header> run_header_class{"builtins.RunHeader",
                                     "Acquisition metadata from `_HEADER.TXT`.\n"
                                     "\n"
                                     "Returned by `RawReader.header`.",
                                     run_header_repr, run_header_getset};

ResultClass<FunctionInfo> function_info_class{
    "builtins.FunctionInfo", "Metadata for a single acquisition function from `_FUNCTNS.INF`.",
    function_info_repr, function_info_getset};

} // namespace tarnvale::py
