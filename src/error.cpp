#include "error.hpp"

#include <cstring>
#include <vector>

namespace tarnvale {

namespace {

// strerror_r comes in two flavours (GNU returns the text, XSI fills the buffer and
// returns a status); these overloads accept whichever one the C library declares.
[[maybe_unused]] const char* strerror_result(const char* text, const char*) { return text; }
[[maybe_unused]] const char* strerror_result(int status, const char* buffer) {
    return status == 0 ? buffer : nullptr;
}

std::string os_error_description(int os_error) {
    char buffer[256] = {};
    const char* text = strerror_result(::strerror_r(os_error, buffer, sizeof buffer), buffer);
    if (text == nullptr || *text == '\0') return "Unknown error " + std::to_string(os_error);
    return text;
}

std::string io_text(int os_error) {
    if (os_error == 0) return "failed to fill whole buffer";
    return os_error_description(os_error) + " (os error " + std::to_string(os_error) + ")";
}

} // namespace

Error::Error(Kind kind, int os_error, std::string text, std::unique_ptr<Error> inner)
    : kind_(kind), os_error_(os_error), text_(std::move(text)), inner_(std::move(inner)) {}

// Unlinks the chain node by node so that destroying a long chain cannot exhaust the stack.
Error::~Error() {
    std::unique_ptr<Error> next = std::move(inner_);
    while (next != nullptr) next = std::move(next->inner_);
}

Error Error::io(int os_error) { return Error(Kind::Io, os_error, {}, nullptr); }

Error Error::io_short_read() { return Error(Kind::Io, 0, {}, nullptr); }

Error Error::io_refused(std::string message) { return Error(Kind::Io, 0, std::move(message), nullptr); }

Error Error::parse(std::string message) { return Error(Kind::Parse, 0, std::move(message), nullptr); }

Error Error::context(std::string context, Error inner) {
    return Error(Kind::Context, 0, std::move(context), std::make_unique<Error>(std::move(inner)));
}

Error Error::clone() const {
    // Copies the chain from its leaf outwards, iteratively like the destructor.
    std::vector<const Error*> chain;
    for (const Error* node = this; node != nullptr; node = node->inner_.get()) chain.push_back(node);
    std::unique_ptr<Error> inner;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const Error& node = **it;
        inner = std::unique_ptr<Error>(new Error(node.kind_, node.os_error_, node.text_, std::move(inner)));
    }
    return std::move(*inner);
}

std::string Error::to_string() const {
    // Walks the chain iteratively: outermost context first, the leaf error last.
    std::string out;
    const Error* current = this;
    while (current->kind_ == Kind::Context && current->inner_ != nullptr) {
        out += current->text_;
        out += ": ";
        current = current->inner_.get();
    }
    switch (current->kind_) {
    case Kind::Io:
        out += "I/O error: ";
        out += current->text_.empty() ? io_text(current->os_error_) : current->text_;
        break;
    case Kind::Parse:
        out += "parse error: ";
        out += current->text_;
        break;
    case Kind::Context: // only reachable for a moved-from context; show what is left
        out += current->text_;
        break;
    }
    return out;
}

} // namespace tarnvale
