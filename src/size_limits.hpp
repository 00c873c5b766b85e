// The most that one file, or one scan, may make the reader allocate. A file's size
// decides how much is allocated to read it, and sizes come from the file system:
// a sparse file, a file still growing or a damaged index can claim gigabytes that
// hold nothing. Like libpng's chunk allocation limit, each kind of file gets a
// ceiling far above anything an instrument writes, so real data never meets it and
// a hostile file fails fast with an error naming the file, its size and the limit.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarnvale {

struct SizeLimit {
    std::uint64_t bytes;
    std::string_view what; // the kind of file in messages: "over the limit ... for <what>"
};

inline constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

// _HEADER.TXT, _extern.inf, _FUNCTNS.INF and _CHROMS.INF: real ones are a few
// kilobytes (416 bytes per function, 85 per chromatogram channel, a few hundred
// text lines). 64 MiB is ten thousand times that.
inline constexpr SizeLimit kMetadataFileLimit{64 * kMiB, "a metadata file"};

// _FUNCnnn.IDX and _FUNCnnn.STS: 22 or 30 bytes per scan in the index and a record
// of some dozen values per scan in the statistics, so a day-long run at 20 scans
// per second (1.7 million scans) has an index of about 50 MB and statistics of a
// few hundred MB at most. 1 GiB is twenty times the index of such a run.
inline constexpr SizeLimit kIndexFileLimit{1024 * kMiB, "an index or statistics file"};

// One scan of a _FUNCnnn.DAT, read at its offset: a large ion-mobility scan (200
// drift bins of tens of thousands of 8-byte records) is tens of MB. 1 GiB is more
// than ten times that; its decoded arrays take about two and a half times as much.
inline constexpr SizeLimit kScanLimit{1024 * kMiB, "a scan"};

// _CHROnnn.DAT: 8 bytes per sample, a sample every second or so, a few MB for a
// day-long trace. 256 MiB holds 33 million samples.
inline constexpr SizeLimit kChromatogramFileLimit{256 * kMiB, "a chromatogram file"};

} // namespace tarnvale
