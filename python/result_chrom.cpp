// ChromPoint and ChromChannel: one sample of a chromatogram trace, and one
// channel description of _CHROMS.INF.
#include <string>

#include "box.hpp"
#include "results.hpp"
#include "text.hpp"

namespace tarnvale::py {

namespace {

PyObject* chrom_point_repr(PyObject* self) {
    return guarded([self] {
        const raw::ChromPoint& point = unbox<raw::ChromPoint>(self);
        std::string text = "ChromPoint(rt_min=" + format_fixed(point.rt_min, 4) +
                           ", value=" + format_fixed(point.value, 4) + ")";
        return to_py_str(text);
    });
}

// Name and units are inserted as they are, without escaping.
PyObject* chrom_channel_repr(PyObject* self) {
    return guarded([self] {
        const raw::ChromChannel& channel = unbox<raw::ChromChannel>(self);
        std::string text = "ChromChannel(index=" + std::to_string(channel.index) + ", name='" + channel.name +
                           "', units='" + channel.units + "')";
        return to_py_str(text);
    });
}

PyGetSetDef chrom_point_getset[] = {
    read_only("rt_min", field_getter<raw::ChromPoint, &raw::ChromPoint::rt_min>, "Retention time (minutes)."),
    read_only("value", field_getter<raw::ChromPoint, &raw::ChromPoint::value>,
              "Channel value in the units given by `ChromChannel.units`."),
    {},
};

PyGetSetDef chrom_channel_getset[] = {
    read_only("index", field_getter<raw::ChromChannel, &raw::ChromChannel::index>,
              "0-based index among data records."),
    read_only("source_type", field_getter<raw::ChromChannel, &raw::ChromChannel::source_type>,
              "Source device type (4 = BSM pump, 1 = column/sample device)."),
    read_only("name", field_getter<raw::ChromChannel, &raw::ChromChannel::name>,
              "Channel name decoded from Windows-1252."),
    read_only("scale_f", field_getter<raw::ChromChannel, &raw::ChromChannel::scale_f>,
              "Scale factor from the `$CC$` spec string."),
    read_only("units", field_getter<raw::ChromChannel, &raw::ChromChannel::units>,
              "Engineering units (e.g. \"%\", \"C\", \"bar\")."),
    {},
};

PyType_Slot chrom_point_slots[] = {
    {Py_tp_doc, const_cast<char*>("A single (retention-time, value) sample from a `_CHROnnnn.DAT` file.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(box_dealloc<raw::ChromPoint>)},
    {Py_tp_repr, reinterpret_cast<void*>(chrom_point_repr)},
    {Py_tp_getset, chrom_point_getset},
    {0, nullptr},
};

PyType_Slot chrom_channel_slots[] = {
    {Py_tp_doc,
     const_cast<char*>("Description of a single recorded chromatographic channel from `_CHROMS.INF`.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(box_dealloc<raw::ChromChannel>)},
    {Py_tp_repr, reinterpret_cast<void*>(chrom_channel_repr)},
    {Py_tp_getset, chrom_channel_getset},
    {0, nullptr},
};

PyType_Spec chrom_point_type_spec = {
    "builtins.ChromPoint", sizeof(Box<raw::ChromPoint>), 0, kResultTypeFlags, chrom_point_slots,
};

PyType_Spec chrom_channel_type_spec = {
    "builtins.ChromChannel", sizeof(Box<raw::ChromChannel>), 0, kResultTypeFlags, chrom_channel_slots,
};

} // namespace

PyType_Spec& chrom_point_spec() { return chrom_point_type_spec; }
PyType_Spec& chrom_channel_spec() { return chrom_channel_type_spec; }

PyObject* new_chrom_point(const raw::ChromPoint& point) { return box_new(ClassId::ChromPoint, point); }

PyObject* new_chrom_channel(const raw::ChromChannel& channel) {
    return box_new(ClassId::ChromChannel, channel);
}

} // namespace tarnvale::py
