#include "tensor_table.h"

#include <algorithm>
#include <vector>

#include <fmt/format.h>

#include "element_codec.h"

namespace tessary::cli {

namespace {

// The indices to show out of `count`: all of them, or the first and last
// halves of `limit` with npos marking the gap.
constexpr std::size_t kGap = static_cast<std::size_t>(-1);

std::vector<std::size_t> shown(std::uint64_t count, std::size_t limit) {
  std::vector<std::size_t> idx;
  if (count <= limit) {
    for (std::size_t i = 0; i < count; ++i) idx.push_back(i);
    return idx;
  }
  const std::size_t half = std::max<std::size_t>(1, limit / 2);
  for (std::size_t i = 0; i < half; ++i) idx.push_back(i);
  idx.push_back(kGap);
  for (std::uint64_t i = count - half; i < count; ++i) idx.push_back(static_cast<std::size_t>(i));
  return idx;
}

// "[i, j]" for the leading-dimension index of flat row `row`.
std::string row_label(std::span<const std::uint64_t> lead, std::uint64_t row) {
  std::vector<std::uint64_t> idx(lead.size());
  for (std::size_t d = lead.size(); d-- > 0;) {
    idx[d] = lead[d] == 0 ? 0 : row % lead[d];
    row = lead[d] == 0 ? 0 : row / lead[d];
  }
  return fmt::format("[{}]", fmt::join(idx, ", "));
}

}  // namespace

std::string format_tensor(DTypeId dtype, std::span<const std::uint64_t> shape, std::uint64_t elements,
                          std::span<const std::uint8_t> bytes, const std::string& indent, TableLimits limits) {
  if (elements == 0) return indent + "(no elements)\n";
  if (shape.empty()) return indent + format_element(dtype, bytes, 0) + "\n";

  const std::uint64_t cols = shape.back();
  const std::span<const std::uint64_t> lead = shape.first(shape.size() - 1);
  const std::uint64_t rows = cols == 0 ? 0 : elements / cols;
  const auto col_idx = shown(cols, limits.max_cols);
  const auto row_idx = shown(rows, limits.max_rows);

  // Cells first, so every column gets the width of its widest entry.
  std::vector<std::vector<std::string>> cells;
  std::vector<std::string> labels;
  std::size_t shown_count = 0;
  for (std::size_t r : row_idx) {
    std::vector<std::string> line;
    if (r == kGap) {
      labels.emplace_back("...");
      for (std::size_t c : col_idx) line.emplace_back(c == kGap ? "" : "...");
      cells.push_back(std::move(line));
      continue;
    }
    labels.push_back(lead.empty() ? std::string() : row_label(lead, r));
    for (std::size_t c : col_idx) {
      if (c == kGap) {
        line.emplace_back("...");
        continue;
      }
      line.push_back(format_element(dtype, bytes, static_cast<std::size_t>(r * cols + c)));
      ++shown_count;
    }
    cells.push_back(std::move(line));
  }

  std::size_t label_w = 0;
  for (const auto& l : labels) label_w = std::max(label_w, l.size());
  std::vector<std::size_t> widths(col_idx.size(), 0);
  for (std::size_t k = 0; k < col_idx.size(); ++k) {
    widths[k] = col_idx[k] == kGap ? 3 : std::to_string(col_idx[k]).size();
    for (const auto& line : cells) widths[k] = std::max(widths[k], line[k].size());
  }

  // Built with append: g++ 12 warns falsely about string concatenation here.
  std::string out;
  auto cell = [&out](std::size_t width, const std::string& text) {
    out.append(2 + width - text.size(), ' ');
    out.append(text);
  };
  out.append(indent);
  out.append(label_w, ' ');
  for (std::size_t k = 0; k < col_idx.size(); ++k) {
    cell(widths[k], col_idx[k] == kGap ? std::string() : std::to_string(col_idx[k]));
  }
  out.append("\n");
  for (std::size_t r = 0; r < cells.size(); ++r) {
    out.append(indent);
    out.append(labels[r]);
    out.append(label_w - labels[r].size(), ' ');
    for (std::size_t k = 0; k < col_idx.size(); ++k) cell(widths[k], cells[r][k]);
    out.append("\n");
  }
  if (shown_count < elements) out += indent + fmt::format("(showing {} of {} elements)\n", shown_count, elements);
  return out;
}

}  // namespace tessary::cli
