// The usual lock-mass calibrants by name, their m/z computed from their elemental
// formulas: monoisotopic atomic masses, and the proton's mass for each charge.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace tarnvale::processing {

struct LockMassPreset {
    std::string_view name;        // what users type, e.g. "leu-enk"
    std::string_view description; // e.g. "leucine enkephalin [M+H]+"
    std::string_view formula;     // of the neutral molecule M, e.g. "C28H37N5O7"
    int charge = 1;               // of the ion: +1 adds a proton, -1 takes one away
};

// Every preset, in the order they are listed to users.
std::span<const LockMassPreset> lock_mass_presets();

// The monoisotopic mass (Da) of a formula of C, H, N, O, S and P, each element
// followed by an optional count; none for anything else.
std::optional<double> monoisotopic_mass(std::string_view formula);

// The m/z of the ion: (M + charge × proton mass) / |charge|.
double preset_mz(const LockMassPreset& preset);

// The preset of this name (letter case ignored), or none.
const LockMassPreset* find_lock_mass_preset(std::string_view name);

} // namespace tarnvale::processing
