// The instrument model term for the run header's instrument text.
#pragma once

#include <string_view>

#include "mzml/terms.hpp"

namespace tarnvale::mzml {

// The model whose name equals the text once ASCII case and everything but letters
// and digits are set aside ("SYNAPT G2-Si", "Synapt G2 HDMS", "Synapt HDMS",
// "Synapt XS"); otherwise the generic Waters instrument model.
Term instrument_model(std::string_view instrument);

} // namespace tarnvale::mzml
