// The process-wide sink of the core's logging facade: forwards records to
// Python's `logging` package.
#pragma once

namespace tarnvale::py {

// Imports `logging`, registers the bridge as the only sink of the facade of the
// core this extension links, and raises the facade's maximum level to Debug.
// Returns 0, or -1 with an exception set (also when a sink is already registered,
// i.e. the module `module_name` runs a second time).
int install_log_bridge(const char* module_name);

} // namespace tarnvale::py
