#pragma once
// The error value of the tool: one line of text for stderr. Every command
// returns its failures as values and main prints them, so no failure path
// prints half a message or exits from deep inside a helper.
#include <expected>
#include <string>
#include <utility>

namespace tessary::cli {

struct CliError {
  std::string message;
};

template <class T>
using CliResult = std::expected<T, CliError>;

inline std::unexpected<CliError> fail(std::string message) { return std::unexpected(CliError{std::move(message)}); }

}  // namespace tessary::cli
