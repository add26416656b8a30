#pragma once
// A loaded session seen through the public C interface: ports with their
// names, types and shapes, and execution into owned output buffers.
#include <cstdint>
#include <string>
#include <vector>

#include "cli_error.h"
#include "file_io.h"
#include "types/dtype.h"

namespace tessary::cli {

struct PortInfo {
  std::string name;
  DTypeId dtype = DTypeId::F32;
  std::vector<std::uint64_t> shape;
  std::uint64_t elements = 0;     // product of the shape (1 for a scalar)
  std::uint64_t byte_length = 0;  // elements times the port element width
};

class Session {
 public:
  static CliResult<Session> load(const ByteBuffer& archive);
  Session(Session&& other) noexcept : handle_(other.handle_), inputs_(std::move(other.inputs_)), outputs_(std::move(other.outputs_)) {
    other.handle_ = -1;
  }
  Session& operator=(Session&&) = delete;
  Session(const Session&) = delete;
  ~Session();

  const std::vector<PortInfo>& inputs() const { return inputs_; }
  const std::vector<PortInfo>& outputs() const { return outputs_; }
  int32_t kernel_count() const;

  // One execution; `outputs` is resized to one buffer per output port.
  // False when the library refuses the run (it gives no reason).
  bool execute(const std::vector<ByteBuffer>& inputs, std::vector<ByteBuffer>& outputs);

 private:
  explicit Session(int32_t handle) : handle_(handle) {}
  int32_t handle_ = -1;
  std::vector<PortInfo> inputs_;
  std::vector<PortInfo> outputs_;
};

}  // namespace tessary::cli
