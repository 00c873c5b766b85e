#include "mzml/instrument_model.hpp"

#include <array>
#include <string>

namespace tarnvale::mzml {

namespace {

constexpr std::array models = {Term::SynaptG2Si, Term::SynaptG2Hdms, Term::SynaptHdms, Term::SynaptXs};

std::string letters_and_digits_upper(std::string_view text) {
    std::string kept;
    for (const char c : text) {
        if (c >= 'a' && c <= 'z')
            kept += static_cast<char>(c - 'a' + 'A');
        else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            kept += c;
    }
    return kept;
}

} // namespace

Term instrument_model(std::string_view instrument) {
    const std::string key = letters_and_digits_upper(instrument);
    for (const Term model : models)
        if (!key.empty() && key == letters_and_digits_upper(term_info(model).name)) return model;
    return Term::WatersInstrumentModel;
}

} // namespace tarnvale::mzml
