// The one error type of the core, and Result<T>.
#pragma once

#include <expected>
#include <memory>
#include <string>
#include <utility>

namespace tarnvale {

class Error {
  public:
    enum class Kind { Io, Parse, Context };

    // An operating-system failure, by errno value: "<description> (os error N)".
    static Error io(int os_error);
    // A read that reached end of file before the requested byte count.
    static Error io_short_read();
    // A file the core refuses to read, with the reason ("<path>: not a regular file (FIFO)").
    static Error io_refused(std::string message);
    static Error parse(std::string message);
    static Error context(std::string context, Error inner);

    Error(Error&&) noexcept = default;
    Error& operator=(Error&&) noexcept = default;
    ~Error();

    // The same error, for a failure shared by several items (every scan of a data
    // file that cannot be opened).
    Error clone() const;

    Kind kind() const { return kind_; }
    // The display text: "I/O error: …", "parse error: …" or "<context>: <inner>".
    std::string to_string() const;

  private:
    Error(Kind kind, int os_error, std::string text, std::unique_ptr<Error> inner);

    Kind kind_;
    int os_error_ = 0;             // Io: errno, or 0 for a short read
    std::string text_;             // Parse and refused Io: message; Context: context string
    std::unique_ptr<Error> inner_; // Context only
};

template <class T> using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(Error error) { return std::unexpected<Error>(std::move(error)); }
inline std::unexpected<Error> parse_error(std::string message) {
    return std::unexpected<Error>(Error::parse(std::move(message)));
}

} // namespace tarnvale

// Propagates the error of a Result-returning expression; otherwise binds its value.
// `lhs` is a declaration or an lvalue and `tmp` a name, so neither can be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define TV_CONCAT_INNER(a, b) a##b
#define TV_CONCAT(a, b) TV_CONCAT_INNER(a, b)
#define TV_ASSIGN_OR_RETURN(lhs, expr) TV_ASSIGN_OR_RETURN_IMPL(TV_CONCAT(tv_result_, __LINE__), lhs, expr)
#define TV_ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr)                                                             \
    auto tmp = (expr);                                                                                       \
    if (!tmp) return ::std::unexpected(::std::move(tmp).error());                                            \
    lhs = ::std::move(*tmp)
// NOLINTEND(bugprone-macro-parentheses)
#define TV_RETURN_IF_ERROR(expr)                                                                             \
    do {                                                                                                     \
        auto tv_status = (expr);                                                                             \
        if (!tv_status) return ::std::unexpected(::std::move(tv_status).error());                            \
    } while (0)
