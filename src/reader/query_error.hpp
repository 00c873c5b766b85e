// The failure of a query of an opened raw directory, carrying the message to report.
#pragma once

#include <expected>
#include <string>
#include <utility>

#include "error.hpp"

namespace tarnvale {

// Why a query failed, as the complete message to report: the display text of a
// core Error, or a message of the query's own ("function 3 not found").
class QueryError {
  public:
    explicit QueryError(std::string message) : message_(std::move(message)) {}
    explicit QueryError(const Error& error) : message_(error.to_string()) {}

    const std::string& message() const { return message_; }

  private:
    std::string message_;
};

template <class T> using QueryResult = std::expected<T, QueryError>;

} // namespace tarnvale
