#include "processing/record_links.hpp"

#include "raw/record_layouts.hpp"

namespace tarnvale::processing {

namespace {

using raw::records::LayoutBC;

template <bool kWithFraction> std::uint32_t segment_key(std::uint64_t record) {
    const std::uint32_t high = LayoutBC::high_half(record);
    return kWithFraction ? high >> 16 : high;
}

// The keys' difference is taken in 64 bits: one step exactly, never by wrapping around.
template <bool kWithFraction> void link(Bytes scan, std::uint32_t* nexts) {
    constexpr std::uint64_t kStep = kWithFraction ? 1 : 0x10000;
    const std::size_t records = scan.size() / LayoutBC::kSize;
    if (records == 0) return;
    for (std::size_t r = 0; r + 1 < records; ++r) {
        const std::uint64_t here = LayoutBC::load(scan.data() + r * LayoutBC::kSize);
        const std::uint64_t after = LayoutBC::load(scan.data() + (r + 1) * LayoutBC::kSize);
        const bool one_step_on =
            std::uint64_t{segment_key<kWithFraction>(after)} - segment_key<kWithFraction>(here) == kStep;
        nexts[r] = one_step_on ? raw::records::intensity_field<LayoutBC>(after) : 0;
    }
    nexts[records - 1] = 0;
}

struct LinkSet {
    LinkRecords b;
    LinkRecords c;
};

// The attributes come last (they hold commas).
#define TV_LINK_SET(suffix, ...)                                                                             \
    __VA_ARGS__ void link_b_##suffix(Bytes scan, std::uint32_t* nexts) { link<false>(scan, nexts); }         \
    __VA_ARGS__ void link_c_##suffix(Bytes scan, std::uint32_t* nexts) { link<true>(scan, nexts); }          \
    constexpr LinkSet kLinks_##suffix{link_b_##suffix, link_c_##suffix};

TV_LINK_SET(baseline, [[gnu::flatten]])
#if defined(__x86_64__)
TV_LINK_SET(avx2, [[gnu::flatten, gnu::target("arch=x86-64-v3")]])
#if defined(__clang__)
TV_LINK_SET(avx512, [[gnu::flatten, gnu::target("arch=x86-64-v4")]])
#else
TV_LINK_SET(avx512, [[gnu::flatten, gnu::target("arch=x86-64-v4,prefer-vector-width=512")]])
#endif
#endif
#undef TV_LINK_SET

const LinkSet& links_for(raw::DecoderPath path) {
#if defined(__x86_64__)
    switch (path) {
    case raw::DecoderPath::Avx2:
        return kLinks_avx2;
    case raw::DecoderPath::Avx512:
        return kLinks_avx512;
    case raw::DecoderPath::Baseline:
        break;
    }
#else
    (void)path;
#endif
    return kLinks_baseline;
}

} // namespace

LinkRecords record_links(bool with_fraction, raw::DecoderPath path) {
    const LinkSet& set = links_for(path);
    return with_fraction ? set.c : set.b;
}

} // namespace tarnvale::processing
