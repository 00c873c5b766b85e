#include "processing/lock_mass_presets.hpp"

#include <array>
#include <cmath>
#include <cstdlib>

#include "text.hpp"

namespace tarnvale::processing {

namespace {

// Monoisotopic masses of the most abundant isotopes (Da), and the proton's.
constexpr double kProtonMass = 1.007276466621;
struct Element {
    char symbol;
    double mass;
};
constexpr std::array<Element, 6> kElements{{
    {'C', 12.0},
    {'H', 1.00782503207},
    {'N', 14.0030740048},
    {'O', 15.99491461956},
    {'S', 31.97207100},
    {'P', 30.97376163},
}};

// Leucine enkephalin (YGGFL) and [Glu1]-fibrinopeptide B (EGVNDNEEGFFSAR).
constexpr std::array<LockMassPreset, 3> kPresets{{
    {"leu-enk", "leucine enkephalin [M+H]+", "C28H37N5O7", 1},
    {"leu-enk-neg", "leucine enkephalin [M-H]-", "C28H37N5O7", -1},
    {"glu-fib", "[Glu1]-fibrinopeptide B [M+2H]2+", "C66H95N19O26", 2},
}};

const Element* element(char symbol) {
    for (const Element& e : kElements)
        if (e.symbol == symbol) return &e;
    return nullptr;
}

} // namespace

std::span<const LockMassPreset> lock_mass_presets() { return kPresets; }

std::optional<double> monoisotopic_mass(std::string_view formula) {
    double mass = 0;
    for (std::size_t at = 0; at < formula.size();) {
        const Element* e = element(formula[at++]);
        if (e == nullptr) return std::nullopt;
        unsigned count = 0;
        bool counted = false;
        while (at < formula.size() && formula[at] >= '0' && formula[at] <= '9' && count < 100000) {
            count = count * 10 + static_cast<unsigned>(formula[at++] - '0');
            counted = true;
        }
        mass += e->mass * (counted ? count : 1);
    }
    return formula.empty() ? std::nullopt : std::optional<double>(mass);
}

double preset_mz(const LockMassPreset& preset) {
    const double neutral = monoisotopic_mass(preset.formula).value_or(std::nan(""));
    return (neutral + preset.charge * kProtonMass) / std::abs(preset.charge);
}

const LockMassPreset* find_lock_mass_preset(std::string_view name) {
    const std::string wanted = ascii_upper(name);
    for (const LockMassPreset& preset : kPresets)
        if (ascii_upper(preset.name) == wanted) return &preset;
    return nullptr;
}

} // namespace tarnvale::processing
