#include "support/random_raw.hpp"

#include <format>
#include <string>
#include <vector>

namespace tarnvale::testing {
namespace {

std::uint32_t below(std::mt19937& random, std::uint32_t bound) {
    return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(random);
}
bool one_in(std::mt19937& random, std::uint32_t n) { return below(random, n) == 0; }
double uniform(std::mt19937& random, double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
}
std::uint16_t u16(std::mt19937& random) { return static_cast<std::uint16_t>(random()); }

// A point of non-zero intensity most of the time; the rest are records the
// decoders skip, whose other bytes are anything.
std::uint16_t intensity(std::mt19937& random) {
    return one_in(random, 6) ? 0 : static_cast<std::uint16_t>(1 + below(random, 65535));
}

void append(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> record) {
    out.insert(out.end(), record.begin(), record.end());
}

void append_record_a(std::mt19937& random, std::vector<std::uint8_t>& out, bool damaged) {
    const std::uint16_t value = intensity(random);
    if (value == 0) return append(out, record_a(0, static_cast<std::uint8_t>(random()), random() & 0xFFFFFF));
    // A set low exponent nibble is a record the decoder rejects.
    if (damaged && one_in(random, 60)) return append(out, record_a(value, 0x91, 0x800000));
    append(out, record_a_mz(value, uniform(random, 40.0, 4000.0)));
}

void append_record_d(std::mt19937& random, std::vector<std::uint8_t>& out, bool damaged) {
    const std::uint32_t word = one_in(random, 6) ? 0 : static_cast<std::uint32_t>(random()) | 1u;
    if (word == 0) return append(out, record_d(0, static_cast<std::uint32_t>(random())));
    // A position word without its leading mantissa bit is rejected.
    if (damaged && one_in(random, 60))
        return append(out, record_d(word, static_cast<std::uint32_t>(random()) & ~(1u << 26)));
    append(out, record_d(word, position_word_d(uniform(random, 40.0, 4000.0))));
}

// Time-bin positions mostly ascend, so that the first and last records span the scan.
void append_records_bc(std::mt19937& random, std::vector<std::uint8_t>& out, std::size_t count, bool damaged,
                       bool profile) {
    std::uint32_t position = below(random, 2000);
    std::uint16_t word = u16(random);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t at =
            damaged && one_in(random, 20) ? u16(random) : static_cast<std::uint16_t>(position);
        // Profile counts are small, so that equal neighbours (flat tops) occur.
        const std::uint16_t value = profile && !one_in(random, 8)
                                        ? static_cast<std::uint16_t>(1 + below(random, 9))
                                        : intensity(random);
        if (!profile || one_in(random, 6)) word = u16(random);
        append(out, record_bc(value, word, at, u16(random)));
        position = (position + 1 + (profile && !one_in(random, 6) ? 0 : below(random, 3000))) & 0xFFFF;
    }
}

std::vector<std::uint8_t> random_scan(std::mt19937& random, char encoding, std::size_t points, bool damaged,
                                      bool profile) {
    std::vector<std::uint8_t> out;
    if (encoding == 'B' || encoding == 'C') {
        append_records_bc(random, out, points, damaged, profile);
        return out;
    }
    for (std::size_t i = 0; i < points; ++i) {
        if (encoding == 'A')
            append_record_a(random, out, damaged);
        else
            append_record_d(random, out, damaged);
    }
    return out;
}

std::string random_calibration(std::mt19937& random) {
    const std::uint32_t terms = below(random, 6);
    std::string text;
    for (std::uint32_t k = 0; k < terms; ++k) {
        const double c = k == 0   ? uniform(random, -0.01, 0.01)
                         : k == 1 ? uniform(random, 0.999, 1.001)
                                  : uniform(random, -1e-6, 1e-6);
        text += std::format("{},", c);
    }
    return text + (one_in(random, 5) ? "T0" : "T1");
}

// Collision energy (f32) and ETD mode (u8) for some of the scans, sometimes all.
StsFileFields random_statistics(std::mt19937& random, std::size_t scans) {
    StsFileFields sts{.descriptors = {{.type_code = kStsF32, .offset = 0, .name = "Collision Energy"},
                                      {.type_code = kStsU8, .offset = 4, .name = "ETD Fragmentation Mode"}},
                      .scan_record_size = 8};
    const std::size_t records =
        one_in(random, 2) ? scans : below(random, static_cast<std::uint32_t>(scans + 1));
    ByteWriter out(records * 8);
    for (std::size_t i = 0; i < records; ++i) {
        out.put_f32(i * 8, static_cast<float>(uniform(random, 5.0, 60.0)));
        out.put_u8(i * 8 + 4, static_cast<std::uint8_t>(below(random, 3)));
    }
    sts.records = out.take();
    return sts;
}

struct Layout {
    std::vector<std::uint8_t> dat;
    std::vector<IndexARecord> index_a;
    std::vector<IndexBRecord> index_b;
};

// Scans end to end, with gaps and moved offsets when damaged. The first two scans
// are whole and next to each other, so that the reader tells A from D by their spacing.
Layout lay_out(std::mt19937& random, const RandomFunctionShape& shape, bool variant_a, std::size_t width) {
    Layout layout;
    float rt = 0.01f;
    for (std::size_t scan = 0; scan < shape.scans; ++scan) {
        const bool clean = scan < 2;
        const std::size_t points = clean ? 1 + below(random, static_cast<std::uint32_t>(shape.max_points))
                                         : below(random, static_cast<std::uint32_t>(shape.max_points + 1));
        if (shape.damaged && !clean && one_in(random, 8))
            layout.dat.resize(layout.dat.size() + below(random, 20), 0xA5);
        auto offset = static_cast<std::uint32_t>(layout.dat.size());
        const std::vector<std::uint8_t> bytes =
            random_scan(random, shape.encoding, points, shape.damaged && !clean, shape.profile);
        append(layout.dat, bytes);
        rt += static_cast<float>(uniform(random, 0.001, 0.02));
        auto n_points = static_cast<std::uint32_t>(bytes.size() / width);
        if (shape.damaged && !clean) {
            if (one_in(random, 10)) n_points += below(random, 5);       // reads into the next scan
            if (one_in(random, 15)) offset = below(random, offset + 1); // backward, overlapping
        }
        if (variant_a)
            layout.index_a.push_back({.offset = offset, .n_points = n_points, .rt_min = rt});
        else
            layout.index_b.push_back({.offset = offset, .rt_min = rt});
    }
    if (!shape.damaged || shape.scans < 6) return layout;
    // The end of the file: a record cut short, a scan clamped at the end, one beyond it.
    layout.dat.resize(layout.dat.size() + below(random, static_cast<std::uint32_t>(width)), 0x5A);
    const auto end = static_cast<std::uint32_t>(layout.dat.size());
    if (variant_a) {
        layout.index_a[shape.scans - 2].n_points += 1000;
        layout.index_a[shape.scans - 3].offset = end + 64;
    } else {
        layout.index_b[shape.scans - 3].offset = end + 64;
    }
    return layout;
}

} // namespace

RawDirSpec random_raw_dir(std::mt19937& random, const RandomFunctionShape& shape) {
    const bool variant_a = shape.encoding == 'A' || shape.encoding == 'D';
    const std::size_t width = shape.encoding == 'A' ? kRecordSizeA : 8;
    Layout layout = lay_out(random, shape, variant_a, width);

    FunctionSpec function;
    function.variant = variant_a ? IndexVariant::A : IndexVariant::B;
    function.record_width = width;
    function.info = {.scan_time_s = static_cast<float>(uniform(random, 0.05, 2.0)),
                     .mz_low = static_cast<float>(uniform(random, 20.0, 100.0)),
                     .mz_high = static_cast<float>(uniform(random, 1000.0, 4000.0))};
    function.dat_bytes = std::move(layout.dat);
    if (variant_a)
        function.index_a = std::move(layout.index_a);
    else
        function.index_b = std::move(layout.index_b);
    if (!one_in(random, 4)) function.sts = random_statistics(random, shape.scans);

    RawDirSpec spec;
    spec.header.instrument = shape.encoding == 'B' ? "SYNAPT G2-Si" : "XEVO-G2XSQTOF";
    if (!one_in(random, 5)) spec.header.cal[1] = random_calibration(random);
    spec.extern_inf.lteff = std::format("{}", uniform(random, 900.0, 2000.0));
    spec.extern_inf.veff = std::format("{}", uniform(random, 5000.0, 10000.0));
    spec.functions = {std::move(function)};
    return spec;
}

} // namespace tarnvale::testing
