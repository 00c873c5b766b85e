#include "columns/decode_into.hpp"

namespace tarnvale::columns {

Result<std::size_t> decode_into(Encoding encoding, Bytes scan, const raw::DecodeContext& context,
                                PointOutput out) {
    switch (encoding) {
    case Encoding::A:
        return raw::decode_encoding_a_into(scan, context, out);
    case Encoding::B:
        return raw::decode_encoding_b_into(scan, context, out);
    case Encoding::C:
        return raw::decode_encoding_c_into(scan, context, out);
    case Encoding::D:
        break;
    }
    return raw::decode_encoding_d_into(scan, context, out);
}

std::size_t count_points(Encoding encoding, Bytes records) {
    return encoding == Encoding::A ? raw::count_points_a(records) : raw::count_points_d(records);
}

} // namespace tarnvale::columns
