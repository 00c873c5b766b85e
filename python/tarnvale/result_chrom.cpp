// ChromPoint and ChromChannel: one sample of a chromatogram trace, and one
// channel description of _CHROMS.INF.
#include <string>

#include "numbers.hpp"
#include "tarnvale/results.hpp"

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

} // namespace

ResultClass<raw::ChromPoint> chrom_point_class{
    "builtins.ChromPoint", "A single (retention-time, value) sample from a `_CHROnnnn.DAT` file.",
    chrom_point_repr, chrom_point_getset};

ResultClass<raw::ChromChannel> chrom_channel_class{
    "builtins.ChromChannel", "Description of a single recorded chromatographic channel from `_CHROMS.INF`.",
    chrom_channel_repr, chrom_channel_getset};

} // namespace tarnvale::py
