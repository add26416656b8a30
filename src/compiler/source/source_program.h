#pragma once
// The source IR: the flat statement list that the text frontends and the
// source builder produce and that source lowering turns into a Graph. Names
// are interned as dense symbols; shapes hold at most eight dimensions; op
// attributes are already sorted into the graph's per-kind records.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "graph/attrs.h"
#include "graph/op_kind.h"
#include "types/dtype.h"
#include "types/shape.h"

namespace tessary {

using SourceSymbol = std::uint32_t;  // index into SourceProgram::names()

inline constexpr std::size_t kMaxSourceRank = 8;

// Element type and dimensions of a statement's tensor.
struct SourceShape {
  DTypeId dtype = DTypeId::F32;
  std::uint8_t rank = 0;
  std::array<std::uint64_t, kMaxSourceRank> dims{};  // slots beyond rank are zero

  // nullopt when `dims` has more than eight entries.
  static std::optional<SourceShape> from_dims(std::span<const std::uint64_t> dims,
                                              DTypeId dtype = DTypeId::F32);

  std::span<const std::uint64_t> dim_span() const { return {dims.data(), rank}; }
  ShapeDescriptor descriptor() const;
  std::uint64_t total_elements() const { return descriptor().total_elements(); }

  friend bool operator==(const SourceShape&, const SourceShape&) = default;
};

struct SourceInput {
  SourceSymbol name = 0;
  std::optional<SourceShape> shape;  // the legacy syntax may leave it out
  friend bool operator==(const SourceInput&, const SourceInput&) = default;
};

struct SourceConst {
  SourceSymbol name = 0;
  std::optional<SourceShape> shape;
  std::uint64_t value_count = 0;     // elements as written
  std::vector<std::uint8_t> bytes;   // little-endian element data
  friend bool operator==(const SourceConst&, const SourceConst&) = default;
};

// A constant whose bytes are read from a file when the program is lowered.
struct SourceExternalConst {
  SourceSymbol name = 0;
  std::optional<SourceShape> shape;
  std::uint64_t byte_len = 0;
  std::string path;
  std::uint64_t offset = 0;
  std::array<std::uint8_t, 32> digest{};  // BLAKE3 of the byte_len bytes at offset
  friend bool operator==(const SourceExternalConst&, const SourceExternalConst&) = default;
};

// An op call with its positional inputs and attribute records. A record that
// no attribute touched is absent; reduce and attention mark absence with the
// value kAttrAbsent in keepdims and causal.
struct OpCall {
  std::optional<SourceShape> result_shape;  // declared result shape
  std::vector<SourceSymbol> inputs;
  std::optional<QuantAttrs> quant;
  std::optional<ConvAttrs> conv;
  std::optional<LrnAttrs> lrn;
  std::optional<GemmAttrs> gemm;
  std::optional<NormAttrs> norm;
  std::optional<GatherAttrs> gather;
  ReduceAttrs reduce{0, kAttrAbsent};
  AttentionAttrs attention{0, kAttrAbsent};
  OpKind kind = OpKind::Neg;

  friend bool operator==(const OpCall&, const OpCall&) = default;
};

// The expression of a Binding statement. An op call is the only expression
// this library builds; a binding without one (default-constructed or moved
// from) is refused by lowering.
class SourceBinding {
 public:
  SourceBinding() = default;
  SourceBinding(const SourceBinding& other);
  SourceBinding& operator=(const SourceBinding& other);
  SourceBinding(SourceBinding&&) noexcept = default;
  SourceBinding& operator=(SourceBinding&&) noexcept = default;

  static SourceBinding op(bool has_name, SourceSymbol name, OpCall call);

  const std::optional<SourceSymbol>& result_name() const { return result_name_; }
  const OpCall* op_call() const { return call_.get(); }
  OpCall* op_call() { return call_.get(); }

  friend bool operator==(const SourceBinding& a, const SourceBinding& b);

 private:
  std::optional<SourceSymbol> result_name_;
  std::unique_ptr<OpCall> call_;  // on the heap: calls are far larger than other items
};

struct SourceOutput {
  SourceSymbol source = 0;
  std::optional<SourceSymbol> alias;  // names the output port when present
  friend bool operator==(const SourceOutput&, const SourceOutput&) = default;
};

using SourceItem = std::variant<SourceInput, SourceConst, SourceExternalConst, SourceBinding, SourceOutput>;

class SourceProgram {
 public:
  // Appends an item; no validation.
  void push(SourceItem item) { items_.push_back(std::move(item)); }

  // The symbol of `name`, appending it to the name table when new. Names are
  // compared byte for byte.
  SourceSymbol intern(std::string_view name);

  std::optional<SourceSymbol> lookup(std::string_view name) const;

  const std::vector<SourceItem>& items() const { return items_; }
  std::vector<SourceItem>& items() { return items_; }
  const std::vector<std::string>& names() const { return names_; }

  friend bool operator==(const SourceProgram& a, const SourceProgram& b) {
    return a.items_ == b.items_ && a.names_ == b.names_;
  }

 private:
  std::vector<SourceItem> items_;
  std::vector<std::string> names_;
  // Ordered map: lookups stay logarithmic whatever names a program chooses,
  // so crafted names cannot degrade interning the way hash collisions could.
  std::map<std::string, SourceSymbol, std::less<>> index_;
};

}  // namespace tessary
