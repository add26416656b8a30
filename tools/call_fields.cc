#include "call_fields.h"

#include <bit>

#include "compute/overloaded.h"

namespace tessary::cli {

namespace {

class Fields {
 public:
  Fields& buf(std::string_view name, const BufferRef& r) {
    CallField f;
    f.name = name;
    f.kind = CallField::Kind::Buffer;
    f.buffer = r;
    out_.push_back(std::move(f));
    return *this;
  }
  Fields& u(std::string_view name, std::uint64_t v) {
    CallField f;
    f.name = name;
    f.kind = CallField::Kind::Unsigned;
    f.value = v;
    out_.push_back(std::move(f));
    return *this;
  }
  Fields& s(std::string_view name, std::int64_t v) {
    CallField f;
    f.name = name;
    f.kind = CallField::Kind::Signed;
    f.signed_value = v;
    out_.push_back(std::move(f));
    return *this;
  }
  Fields& f32(std::string_view name, std::uint32_t bits) {
    CallField f;
    f.name = name;
    f.kind = CallField::Kind::Float;
    f.value = bits;
    out_.push_back(std::move(f));
    return *this;
  }
  Fields& dtype(std::string_view name, DTypeId t) {
    CallField f;
    f.name = name;
    f.kind = CallField::Kind::DType;
    f.value = dtype_tag(t);
    out_.push_back(std::move(f));
    return *this;
  }
  Fields& flag(std::string_view name, bool v) {
    CallField f;
    f.name = name;
    f.kind = CallField::Kind::Flag;
    f.value = v ? 1 : 0;
    out_.push_back(std::move(f));
    return *this;
  }
  template <class Array>
  Fields& list(std::string_view name, const Array& a, std::size_t count) {
    CallField f;
    f.name = name;
    f.kind = CallField::Kind::List;
    for (std::size_t i = 0; i < count && i < a.size(); ++i) f.list.push_back(a[i]);
    out_.push_back(std::move(f));
    return *this;
  }
  std::vector<CallField> take() { return std::move(out_); }

 private:
  std::vector<CallField> out_;
};

}  // namespace

float field_float(const CallField& f) { return std::bit_cast<float>(static_cast<std::uint32_t>(f.value)); }

std::vector<CallField> call_fields(const KernelCall& call) {
  Fields f;
  const CallDescriptor& d = call.descriptor();
  std::visit(
      Overloaded{
          [&](const UnaryCall& c) { f.buf("input", c.input).buf("output", c.output).u("n", c.n).u("aux", c.aux).dtype("dtype", c.dtype); },
          [&](const BinaryCall& c) {
            f.buf("a", c.a).buf("b", c.b).buf("output", c.output).u("n", c.n).u("aux", c.aux).dtype("dtype", c.dtype);
          },
          [&](const MatmulCall& c) {
            f.buf("a", c.a).buf("b", c.b).buf("output", c.output).u("m", c.m).u("k", c.k).u("n", c.n);
            f.dtype("dtype", c.dtype).flag("packed", c.packed);
            if (d.has_addend) f.buf("addend", c.addend);
            if (d.has_act) f.u("act", c.act);
          },
          [&](const GemmCall& c) {
            f.buf("a", c.a).buf("b", c.b).buf("c", c.c).buf("output", c.output).u("m", c.m).u("k", c.k).u("n", c.n);
            f.f32("alpha", static_cast<std::uint32_t>(c.alpha)).f32("beta", static_cast<std::uint32_t>(c.beta));
            f.dtype("dtype", c.dtype);
          },
          [&](const ConvCall& c) {
            f.buf("input", c.input).buf("weight", c.weight).buf("output", c.output);
            f.u("batch", c.batch).u("cin", c.cin).u("cout", c.cout).u("h", c.h).u("w", c.w).u("oh", c.oh).u("ow", c.ow);
            f.u("kh", c.kh).u("kw", c.kw).u("stride_h", c.stride_h).u("stride_w", c.stride_w);
            f.u("pad_h", c.pad_h).u("pad_w", c.pad_w).dtype("dtype", c.dtype);
          },
          [&](const Im2colCall& c) {
            f.buf("input", c.input).buf("output", c.output).u("planes", c.planes).u("h", c.h).u("w", c.w);
            f.u("oh", c.oh).u("ow", c.ow).u("kh", c.kh).u("kw", c.kw).u("stride_h", c.stride_h);
            f.u("stride_w", c.stride_w).dtype("dtype", c.dtype);
          },
          [&](const NormCall& c) {
            f.buf("x", c.x).buf("second", c.second).buf("third", c.third).buf("fourth", c.fourth).buf("output", c.output);
            f.u("rows", c.rows).u("features", c.features).u("channels", c.channels).u("groups", c.groups);
            f.f32("epsilon", static_cast<std::uint32_t>(c.epsilon)).dtype("dtype", c.dtype);
          },
          [&](const ReduceCall& c) {
            f.buf("input", c.input).buf("output", c.output).u("n", c.n).u("rank", c.rank).u("axes", c.axes);
            f.flag("keepdims", c.keepdims).dtype("dtype", c.dtype).list("dims", c.dims, c.rank);
          },
          [&](const LayoutCall& c) { f.buf("input", c.input).buf("output", c.output).u("n", c.n).dtype("dtype", c.dtype); },
          [&](const TransposeCall& c) {
            f.buf("input", c.input).buf("output", c.output).u("rank", c.rank).list("dims", c.dims, 8);
            f.list("perm", c.perm, 8).dtype("dtype", c.dtype);
          },
          [&](const SoftmaxCall& c) {
            f.buf("input", c.input).buf("output", c.output).u("rows", c.rows).u("cols", c.cols).dtype("dtype", c.dtype);
          },
          [&](const PoolCall& c) {
            f.buf("input", c.input).buf("output", c.output).u("batch", c.batch).u("channels", c.channels);
            f.u("h", c.h).u("w", c.w).u("oh", c.oh).u("ow", c.ow).u("kh", c.kh).u("kw", c.kw);
            f.u("stride_h", c.stride_h).u("stride_w", c.stride_w).dtype("dtype", c.dtype);
          },
          [&](const AttentionCall& c) {
            f.buf("q", c.q).buf("k", c.k).buf("v", c.v).buf("output", c.output).u("batch", c.batch).u("heads", c.heads);
            f.u("seq", c.seq).u("head_dim", c.head_dim).u("kv_heads", c.kv_heads).flag("causal", c.causal);
            f.f32("scale", c.scale).dtype("dtype", c.dtype);
          },
          [&](const DecodeAttentionCall& c) {
            f.buf("q", c.q).buf("past_k", c.past_k).buf("past_v", c.past_v).buf("new_k", c.new_k).buf("new_v", c.new_v);
            f.buf("visibility", c.visibility).buf("output", c.output).u("batch", c.batch).u("heads", c.heads);
            f.u("kv_heads", c.kv_heads).u("q_rows", c.q_rows).u("past_len", c.past_len).u("new_len", c.new_len);
            f.u("head_dim", c.head_dim).f32("scale", c.scale).dtype("dtype", c.dtype);
          },
          [&](const KvCacheWriteCall& c) {
            f.buf("cache", c.cache).buf("rows", c.rows).buf("position", c.position).buf("output", c.output);
            f.u("groups", c.groups).u("bucket_rows", c.bucket_rows).u("new_rows", c.new_rows).u("row_bytes", c.row_bytes);
          },
          [&](const ExpandCall& c) {
            f.buf("input", c.input).buf("output", c.output).u("rank", c.rank).list("in_dims", c.in_dims, 8);
            f.list("out_dims", c.out_dims, 8).dtype("dtype", c.dtype);
          },
          [&](const RopeCall& c) {
            f.buf("x", c.x).buf("cos", c.cos).buf("sin", c.sin).buf("output", c.output).u("head_dim", c.head_dim);
            f.u("n", c.n).dtype("dtype", c.dtype);
          },
          [&](const LrnCall& c) {
            f.buf("input", c.input).buf("output", c.output).u("batch", c.batch).u("channels", c.channels);
            f.u("spatial", c.spatial).u("size", c.size).f32("alpha", c.alpha).f32("beta", c.beta).f32("bias", c.bias);
            f.dtype("dtype", c.dtype);
          },
          [&](const WhereCall& c) {
            f.buf("cond", c.cond).buf("x", c.x).buf("y", c.y).buf("output", c.output).u("n", c.n).dtype("dtype", c.dtype);
          },
          [&](const GatherCall& c) {
            f.buf("data", c.data).buf("indices", c.indices).buf("output", c.output).u("outer", c.outer);
            f.u("axis_len", c.axis_len).u("inner", c.inner).u("index_count", c.index_count);
            f.dtype("index_dtype", c.index_dtype).dtype("dtype", c.dtype);
          },
          [&](const CastCall& c) {
            f.buf("input", c.input).buf("output", c.output).u("n", c.n).dtype("src_dtype", c.src_dtype).dtype("dtype", c.dtype);
          },
          [&](const DequantizeCall& c) {
            f.buf("q", c.q).buf("scales", c.scales).buf("zero_points", c.zero_points).buf("output", c.output);
            f.u("n", c.n).u("scale_count", c.scale_count).u("scale_divisor", c.scale_divisor);
            f.dtype("quant_dtype", c.quant_dtype).dtype("dtype", c.dtype).f32("scale", c.scale).s("zero_point", c.zero_point);
            f.u("weight_layout", c.weight_layout).u("act_quant", c.act_quant).buf("codebook", c.codebook);
          },
          [&](const DequantActivationCall& c) {
            f.buf("input", c.input).buf("output", c.output).u("n", c.n).dtype("quant_dtype", c.quant_dtype);
            f.u("table", c.table).dtype("dtype", c.dtype).f32("scale", c.scale).s("zero_point", c.zero_point);
          },
          [&](const MatmulDequantCall& c) {
            f.buf("a", c.a).buf("w", c.w).buf("scales", c.scales).buf("zero_points", c.zero_points).buf("output", c.output);
            f.u("m", c.m).u("k", c.k).u("n", c.n).u("scale_count", c.scale_count).u("scale_divisor", c.scale_divisor);
            f.dtype("quant_dtype", c.quant_dtype).dtype("dtype", c.dtype).f32("scale", c.scale).s("zero_point", c.zero_point);
            f.u("weight_layout", c.weight_layout).u("act_quant", c.act_quant).u("act", c.act);
            f.buf("addend", c.addend).buf("codebook", c.codebook);
          },
          [&](const BroadcastBinaryCall& c) {
            f.buf("a", c.a).buf("b", c.b).buf("output", c.output).u("rank", c.rank).u("op", c.op).flag("order", c.order);
            f.dtype("dtype", c.dtype).list("in_dims", c.in_dims, c.rank).list("out_dims", c.out_dims, c.rank);
          },
      },
      call.record());
  return f.take();
}

}  // namespace tessary::cli
