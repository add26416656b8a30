#pragma once
// SESSIONS: the process-wide table of loaded sessions. Handles are slot
// indices handed out in load order and never reused.
#include <memory>
#include <mutex>
#include <vector>

#include "exec/session.h"

namespace tessary::ffi {

struct SessionTable {
  std::mutex lock;
  std::vector<std::unique_ptr<InferenceSession>> slots;
};

// Created on first use, never torn down.
SessionTable& sessions();

}  // namespace tessary::ffi
