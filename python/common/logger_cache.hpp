// Cache of Python loggers for the logging bridge: a tree keyed by the segments
// of a log target ("tarnvale::raw::index" -> "tarnvale", "raw", "index").
//
// The tree is immutable once published. An update copies the path from the root
// to the target's node, shares every other node, and swaps the new root in with
// one compare-and-swap; lookups take a snapshot of the root and never lock or
// call into Python, so the core may ask from any thread. A replaced tree may
// still be read by another thread, so it is never freed; each target is stored
// at most once, which bounds this to one retired tree per target.
#pragma once

#include <Python.h>

#include <atomic>
#include <optional>
#include <string_view>

#include "log.hpp"

namespace tarnvale::py {

struct CachedLogger {
    PyObject* logger;       // borrowed from the tree, which keeps it alive for good
    log::Level max_enabled; // highest core level the logger had enabled when cached
};

struct CacheNode;

class LoggerCache {
  public:
    LoggerCache() = default;
    LoggerCache(const LoggerCache&) = delete;
    LoggerCache& operator=(const LoggerCache&) = delete;

    std::optional<CachedLogger> lookup(std::string_view target) const;

    // Caches `logger` (a new reference is taken) for `target`. Does nothing if the
    // target already has an entry or another thread swapped the root in the
    // meantime (a later record repeats the attempt). Needs the interpreter lock;
    // may throw std::bad_alloc.
    void store(std::string_view target, PyObject* logger, log::Level max_enabled);

  private:
    std::atomic<const CacheNode*> root_{nullptr};
};

} // namespace tarnvale::py
