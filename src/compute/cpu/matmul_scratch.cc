#include "compute/cpu/matmul_scratch.h"

namespace tessary::cpu {
namespace {

thread_local ScratchSlot<MatmulArrays> t_matmul;
thread_local ScratchSlot<WidenArrays> t_widen;
thread_local ScratchSlot<PackArrays> t_pack;

}  // namespace

ScratchSlot<MatmulArrays>& matmul_scratch_slot() { return t_matmul; }
ScratchSlot<WidenArrays>& widen_scratch_slot() { return t_widen; }
ScratchSlot<PackArrays>& pack_scratch_slot() { return t_pack; }

}  // namespace tessary::cpu
