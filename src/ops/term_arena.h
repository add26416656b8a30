#pragma once
// TermArena: a fixed-capacity arena of terms in which an op emitter spells
// out what one graph node computes, as a small data-flow structure over the
// node's inputs at the compile width. A term names earlier terms by index, so
// the arena is acyclic by construction. Its capacity bounds how elaborate a
// node's structure may get; running out is the emitters' one failure.
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>

#include "graph/op_kind.h"

namespace tessary {

using TermIndex = std::uint16_t;

// Operation codes of terms. Codes below 0x100 are op-kind discriminants: the
// primitive emitter writes the node's own kind (with a few kinds folded onto
// a shared code, see op_emitters.h). The rest are the building blocks the
// other emitters compose.
enum class TermOp : std::uint16_t {
  Input = 0x100,   // imm: operand position
  Const,           // imm: binary32 bits of the value
  Select,          // a ? b : c
  MulAdd,          // a * b + c
  Scale2,          // a * 2^b
  ReduceAdd,       // sum of a along one axis
  ReduceMax,       // max of a along one axis
  Shift,           // a moved by imm positions along one axis (zero filled)
  SignBit,         // sign bit of a
  IsZero,          // a == 0
  Truncate,        // a rounded toward zero
  Convert,         // a as another element type (imm: DTypeId tag)
  Window,          // the patches of a (imm: window extent)
  Broadcast,       // a repeated along one axis
  Rotate,          // one CORDIC micro-rotation of (a, b) steered by c (imm: iteration)
};

struct Term {
  std::uint16_t op = 0;  // a TermOp value or an op-kind discriminant
  TermIndex a = 0, b = 0, c = 0;  // operands; unused ones repeat the term's first operand
  std::uint32_t imm = 0;
};

// The arena is full.
struct EmitOverflow {
  friend constexpr bool operator==(EmitOverflow, EmitOverflow) { return true; }
};

using EmitResult = std::expected<TermIndex, EmitOverflow>;

class TermArena {
 public:
  static constexpr std::size_t kCapacity = 128;

  // Appends a term and returns its index. Refuses when the arena is full,
  // and also a term naming a term that is not earlier (the first term can
  // only be a leaf, with operands 0), so the arena stays acyclic whatever an
  // emitter does.
  EmitResult push(Term term) {
    if (fill_ >= kCapacity) return std::unexpected(EmitOverflow{});
    const bool earlier = fill_ == 0 ? (term.a | term.b | term.c) == 0
                                    : term.a < fill_ && term.b < fill_ && term.c < fill_;
    if (!earlier) return std::unexpected(EmitOverflow{});
    terms_[fill_] = term;
    return static_cast<TermIndex>(fill_++);
  }

  void clear() { fill_ = 0; }
  std::size_t size() const { return fill_; }
  const Term& operator[](std::size_t i) const { return terms_[i]; }

 private:
  std::array<Term, kCapacity> terms_{};
  std::size_t fill_ = 0;
};

}  // namespace tessary
