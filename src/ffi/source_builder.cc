// The tessary_source_builder_* functions: a SourceProgram on the heap, grown
// one statement per call and compiled as often as the caller likes.
#include <cstring>
#include <optional>
#include <string_view>

#include "compiler/source/lowering.h"
#include "compiler/source/source_program.h"
#include "ffi/boundary.h"
#include "ffi/compile_bridge.h"
#include "tessary/tessary.h"
#include "types/utf8.h"

struct TessarySourceBuilder {
  tessary::SourceProgram program;
};

using namespace tessary;
using namespace tessary::ffi;

namespace {

// A string with len 0 is the empty text whatever ptr is.
std::optional<FfiError> string_problem(const TessaryString& s) {
  if (s.len == 0) return std::nullopt;
  if (s.ptr == nullptr) return ffi_error(10, "string null");
  if (!is_valid_utf8(s.ptr, s.len)) return ffi_error(10, "string utf8");
  return std::nullopt;
}

std::string_view text_of(const TessaryString& s) {
  return s.len == 0 ? std::string_view() : std::string_view(reinterpret_cast<const char*>(s.ptr), s.len);
}

// Element type 0 and 8 both mean f32; nothing else is accepted.
bool dtype_ok(std::uint8_t tag) { return tag == 0 || tag == 8; }

// rank 0: "shape missing"; above 8 or no dims: "shape bad".
std::optional<FfiError> shape_problem(const uint64_t* dims, size_t rank) {
  if (rank == 0) return ffi_error(5, "shape missing");
  if (rank > kMaxSourceRank || dims == nullptr) return ffi_error(5, "shape bad");
  return std::nullopt;
}

SourceShape shape_of(const uint64_t* dims, size_t rank) {
  return *SourceShape::from_dims(std::span<const std::uint64_t>(dims, rank), DTypeId::F32);
}

std::int32_t symbol_result(SourceSymbol s) {
  return s > static_cast<SourceSymbol>(INT32_MAX) ? -1 : static_cast<std::int32_t>(s);
}

// Runs a builder function: clears the record, fails on a NULL builder.
template <class F>
std::int32_t with_builder(TessarySourceBuilder* b, F&& f) {
  return guarded_recording([&]() -> std::int32_t {
    if (b == nullptr) return fail(ffi_error(10, "source builder null"));
    return f(b->program);
  });
}

}  // namespace

extern "C" {

TESSARY_API TessarySourceBuilder* tessary_source_builder_new(void) {
  clear_error();
  try {
    return new TessarySourceBuilder();
  } catch (...) {
    return nullptr;
  }
}

TESSARY_API void tessary_source_builder_free(TessarySourceBuilder* builder) { delete builder; }

TESSARY_API int32_t tessary_source_builder_input(TessarySourceBuilder* builder, const TessaryTensorDescriptor* desc) {
  return with_builder(builder, [&](SourceProgram& p) -> std::int32_t {
    if (desc == nullptr) return fail(ffi_error(10, "tensor descriptor null"));
    if (auto e = string_problem(desc->name)) return fail(*e);
    const SourceSymbol name = p.intern(text_of(desc->name));
    if (!dtype_ok(desc->dtype)) return fail(ffi_error(11, "dtype unsupported"));
    if (auto e = shape_problem(desc->dims, desc->rank)) return fail(*e);
    p.push(SourceInput{name, shape_of(desc->dims, desc->rank)});
    return symbol_result(name);
  });
}

TESSARY_API int32_t tessary_source_builder_const(TessarySourceBuilder* builder, const TessaryConstDescriptor* desc) {
  return with_builder(builder, [&](SourceProgram& p) -> std::int32_t {
    if (desc == nullptr) return fail(ffi_error(10, "const descriptor null"));
    if (auto e = string_problem(desc->name)) return fail(*e);
    const SourceSymbol name = p.intern(text_of(desc->name));
    if (!dtype_ok(desc->dtype)) return fail(ffi_error(11, "dtype unsupported"));
    if (desc->byte_len % 4 != 0) return fail(ffi_error(5, "const byte len"));
    if (desc->byte_len > 0 && desc->bytes == nullptr) return fail(ffi_error(10, "bytes null"));
    if (auto e = shape_problem(desc->dims, desc->rank)) return fail(*e);
    SourceConst c;
    c.name = name;
    c.shape = shape_of(desc->dims, desc->rank);
    c.value_count = desc->byte_len / 4;
    if (desc->byte_len > 0) c.bytes.assign(desc->bytes, desc->bytes + desc->byte_len);
    p.push(std::move(c));
    return symbol_result(name);
  });
}

TESSARY_API int32_t tessary_source_builder_const_ref(TessarySourceBuilder* builder,
                                                     const TessaryConstRefDescriptor* desc) {
  return with_builder(builder, [&](SourceProgram& p) -> std::int32_t {
    if (desc == nullptr) return fail(ffi_error(10, "const ref descriptor null"));
    if (auto e = string_problem(desc->name)) return fail(*e);
    if (auto e = string_problem(desc->path)) return fail(*e);
    const SourceSymbol name = p.intern(text_of(desc->name));
    if (!dtype_ok(desc->dtype)) return fail(ffi_error(11, "dtype unsupported"));
    if (auto e = shape_problem(desc->dims, desc->rank)) return fail(*e);
    SourceExternalConst c;
    c.name = name;
    c.shape = shape_of(desc->dims, desc->rank);
    c.path = std::string(text_of(desc->path));
    c.offset = desc->byte_offset;
    c.byte_len = desc->byte_len;
    std::memcpy(c.digest.data(), desc->digest, 32);
    p.push(std::move(c));
    return symbol_result(name);
  });
}

TESSARY_API int32_t tessary_source_builder_op(TessarySourceBuilder* builder, const TessaryOpDescriptor* desc) {
  return with_builder(builder, [&](SourceProgram& p) -> std::int32_t {
    if (desc == nullptr) return fail(ffi_error(10, "source op null"));
    if (auto e = string_problem(desc->result)) return fail(*e);
    if (auto e = string_problem(desc->op)) return fail(*e);
    const SourceSymbol result = p.intern(text_of(desc->result));
    const auto kind = op_kind_from_name(text_of(desc->op));
    if (!kind) return fail(ffi_error(3, "source op unknown"));
    if (desc->input_count > 0 && desc->inputs == nullptr) return fail(ffi_error(10, "source op inputs null"));
    OpCall call;
    call.kind = *kind;
    call.inputs.reserve(std::min<size_t>(desc->input_count, 64));
    for (size_t i = 0; i < desc->input_count; ++i) {
      if (auto e = string_problem(desc->inputs[i])) return fail(*e);
      call.inputs.push_back(p.intern(text_of(desc->inputs[i])));
    }
    if (desc->rank > 0) {
      if (desc->rank > kMaxSourceRank || desc->dims == nullptr) return fail(ffi_error(5, "shape bad"));
      call.result_shape = shape_of(desc->dims, desc->rank);
    }
    p.push(SourceBinding::op(true, result, std::move(call)));
    return symbol_result(result);
  });
}

TESSARY_API int32_t tessary_source_builder_output(TessarySourceBuilder* builder, const uint8_t* name,
                                                  size_t name_len) {
  return with_builder(builder, [&](SourceProgram& p) -> std::int32_t {
    const TessaryString s{name, name_len};
    if (auto e = string_problem(s)) return fail(*e);
    const SourceSymbol sym = p.intern(text_of(s));
    p.push(SourceOutput{sym, std::nullopt});
    return symbol_result(sym);
  });
}

TESSARY_API int32_t tessary_source_builder_output_alias(TessarySourceBuilder* builder, const uint8_t* name,
                                                        size_t name_len, const uint8_t* alias, size_t alias_len) {
  return with_builder(builder, [&](SourceProgram& p) -> std::int32_t {
    const TessaryString s{name, name_len};
    if (auto e = string_problem(s)) return fail(*e);
    const SourceSymbol sym = p.intern(text_of(s));
    const TessaryString a{alias, alias_len};
    if (auto e = string_problem(a)) return fail(*e);
    const SourceSymbol alias_sym = p.intern(text_of(a));
    p.push(SourceOutput{sym, alias_sym});
    return symbol_result(sym);
  });
}

TESSARY_API int32_t tessary_source_builder_compile(TessarySourceBuilder* builder, uint8_t* dst, size_t cap) {
  return with_builder(builder, [&](SourceProgram& p) -> std::int32_t {
    auto graph = lower_ir(p);
    if (!graph) return fail(lowering_failure(graph.error()));
    auto archive = compile_graph(std::move(*graph));
    if (!archive) return fail(ffi_error(12, "source builder compile"));
    if (dst == nullptr) return fail(ffi_error(10, "archive output null"));
    return copy_archive(*archive, dst, cap);
  });
}

}  // extern "C"
