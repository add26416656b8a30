#pragma once
// One execution of a session: label the inputs, answer from the memo when the
// same inputs were seen and their outputs are still resident, otherwise run
// the plan call by call, reusing every value whose label is resident.
#include <cstdint>
#include <expected>
#include <span>

#include "exec/session.h"

namespace tessary {

enum class ExecError : std::uint8_t {
  InputCountMismatch,
  ExecutionFailed,
  OutputUnavailable,
};

// On success, one view per output port into the session's arena, valid until
// the session is next executed or closed. The caller copies them out.
std::expected<std::span<const ReadBytes>, ExecError> execute(InferenceSession& s, std::span<const ReadBytes> inputs);

std::expected<void, ExecError> compute_and_label(InferenceSession& s);
std::expected<std::span<const ReadBytes>, ExecError> collect_outputs(InferenceSession& s);

}  // namespace tessary
