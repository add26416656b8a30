// Runs the built `tessary` executable on real files and checks what it
// prints, writes and returns.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/json_reader.h"
#include "tools/npy_reader.h"
#include "tools/process_runner.h"

namespace tessary::tooltest {
namespace {

namespace fs = std::filesystem;

const std::string kTool = TESSARY_CLI_PATH;
const fs::path kExamples = fs::path(TESSARY_SOURCE_DIR) / "examples";

// x and y of shape [2, 3]: a = x + y, m = a * x.
constexpr const char* kElementwise =
    "input x: f32[2, 3]\n"
    "input y: f32[2, 3]\n"
    "let a = add(x, y)\n"
    "let m = mul(a, x)\n"
    "output m\n"
    "output a\n";

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "tessary_cli_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  fs::path file(const std::string& name, const std::string& content) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
  ProcessResult tool(const std::vector<std::string>& args) {
    const fs::path scratch = dir_ / "proc";
    fs::create_directories(scratch);
    return run_process(kTool, args, scratch);
  }
  NpyFile npy(const fs::path& p) { return parse_npy(slurp(p)); }

  fs::path dir_;
};

std::string f32_bytes(const std::vector<float>& v) {
  std::string s(v.size() * 4, '\0');
  std::memcpy(s.data(), v.data(), s.size());
  return s;
}

// A version 1.0 .npy of float64 values, laid out by hand.
std::string npy_f64(const std::string& shape, const std::vector<double>& v, bool fortran = false) {
  std::string header = std::string("{'descr': '<f8', 'fortran_order': ") + (fortran ? "True" : "False") +
                       ", 'shape': " + shape + ", }";
  while ((10 + header.size() + 1) % 64 != 0) header += ' ';
  header += '\n';
  std::string out = "\x93NUMPY";
  out += '\x01';
  out += '\x00';
  out += static_cast<char>(header.size() & 0xFF);
  out += static_cast<char>(header.size() >> 8);
  out += header;
  std::string data(v.size() * 8, '\0');
  std::memcpy(data.data(), v.data(), data.size());
  return out + data;
}

std::size_t count_lines(const std::string& s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')); }

// ---- compile -----------------------------------------------------------------

TEST_F(CliTest, RefusedProgramPrintsLocationSourceLineAndCaret) {
  struct Case {
    const char* program;
    const char* expected;  // the whole of stderr, with "P" for the program's path
  };
  const Case cases[] = {
      // The attribute error sits on line 3, after a tab: the caret keeps the tab.
      {"input x: f32[1, 4]\nconst w: f32[2] = [1, 2]\n\tlet y = relu(x, foo=1)\noutput y\n",
       "P:3:2: error: op: unknown attr\n 3 | \tlet y = relu(x, foo=1)\n   | \t^\n"},
      // Trailing text after a complete statement: the column of the '#'.
      {"input x: f32[4] # note\n", "P:1:17: error: source: bad v2 syntax\n 1 | input x: f32[4] # note\n"
                                   "   |                 ^\n"},
      // A two-byte blank (U+00A0) before the statement: column 3 in bytes,
      // one character of padding under it.
      {"input x: f32[4]\n\xC2\xA0let y = Relu(x)\n",
       "P:2:3: error: op: unknown op kind\n 2 | \xC2\xA0let y = Relu(x)\n   |  ^\n"},
      // Line numbers above 9 widen the gutter.
      {"input x: f32[4]\n\n\n\n\n\n\n\n\nconst c: f32[2] = [1e, 2]\n",
       "P:10:22: error: source: bad v2 syntax\n 10 | const c: f32[2] = [1e, 2]\n    |                      ^\n"},
      // A lowering error has no place in the text.
      {"input x: f32[2]\nlet y = relu(z)\noutput y\n", "P: error: op: unresolved input\n"},
  };
  for (const Case& c : cases) {
    const fs::path prog = file("prog.tess", c.program);
    const ProcessResult r = tool({"compile", prog.string(), "-o", (dir_ / "out.tsa").string()});
    std::string expected = c.expected;
    for (std::size_t at; (at = expected.find("P:")) != std::string::npos;) expected.replace(at, 1, prog.string());
    EXPECT_EQ(r.status, 1) << c.program;
    EXPECT_EQ(r.err, expected) << c.program;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(dir_ / "out.tsa")) << "a refused program must not leave an archive";
  }
}

TEST_F(CliTest, CompileWritesALoadableArchiveBesideTheProgram) {
  const fs::path prog = file("two_layer.tess", slurp(kExamples / "two_layer.tess"));
  const ProcessResult r = tool({"compile", prog.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  const fs::path archive = dir_ / "two_layer.tsa";
  const std::string bytes = slurp(archive);
  ASSERT_GE(bytes.size(), 42u);
  EXPECT_EQ(bytes.substr(0, 4), "TESS");
  EXPECT_EQ(r.out, "wrote " + archive.string() + ": " + std::to_string(bytes.size()) +
                       " bytes, 1 input, 1 output, 3 kernel calls\n");

  // The archive runs like the text it came from.
  const ProcessResult run = tool({"run", archive.string(), "--input", "x=1,2,3,4"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("(archive, 3 kernel calls)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("  s  f32[1, 1]\n          0\n    [0]  22\n"), std::string::npos) << run.out;
}

// ---- run ---------------------------------------------------------------------

TEST_F(CliTest, TwoLayerProgramGivesTwentyTwoAndSavesIt) {
  const ProcessResult r =
      tool({"run", (kExamples / "two_layer.tess").string(), "--input", "x=1,2,3,4", "--save", (dir_ / "out").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  x  f32[1, 4]  values\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  s  f32[1, 1]\n"), std::string::npos) << r.out;
  const NpyFile s = npy(dir_ / "out" / "s.npy");
  ASSERT_EQ(s.error, "");
  EXPECT_EQ(s.descr, "<f4");
  EXPECT_FALSE(s.fortran_order);
  EXPECT_EQ(s.shape, (std::vector<std::uint64_t>{1, 1}));
  EXPECT_EQ(s.floats(), std::vector<float>{22.0f});
}

TEST_F(CliTest, ValuesNpyAndRawInputsGiveTheSameRightOutputs) {
  const fs::path prog = file("ew.tess", kElementwise);
  const std::vector<double> x = {1.5, -2, 0.25, 3, -0.5, 8};
  const std::vector<double> y = {0.5, 4, -1, 2.25, 1, -16};
  file("x.npy", npy_f64("(2, 3)", x));  // float64 on disk, converted for the f32 input
  file("y.bin", f32_bytes(std::vector<float>(y.begin(), y.end())));

  struct Way {
    const char* name;
    std::vector<std::string> inputs;
  };
  const Way ways[] = {
      {"values", {"x=1.5,-2,0.25,3,-0.5,8", "y=0.5,4,-1,2.25,1,-16"}},
      {"npy and raw", {"x=@" + (dir_ / "x.npy").string(), "y=@" + (dir_ / "y.bin").string()}},
      {"mixed", {"y=[0.5, 4, -1, 2.25, 1, -16]", "x=@" + (dir_ / "x.npy").string()}},
  };
  for (const Way& w : ways) {
    const fs::path out = dir_ / (std::string("out_") + (w.name[0] == 'v' ? "v" : w.name[0] == 'n' ? "n" : "m"));
    std::vector<std::string> args = {"run", prog.string(), "--save", out.string()};
    for (const auto& i : w.inputs) {
      args.push_back("--input");
      args.push_back(i);
    }
    const ProcessResult r = tool(args);
    ASSERT_EQ(r.status, 0) << w.name << ": " << r.err;
    const NpyFile a = npy(out / "a.npy");
    const NpyFile m = npy(out / "m.npy");
    ASSERT_EQ(a.error, "");
    ASSERT_EQ(m.error, "");
    EXPECT_EQ(a.shape, (std::vector<std::uint64_t>{2, 3}));
    EXPECT_EQ(m.shape, (std::vector<std::uint64_t>{2, 3}));
    // Every value here is exact in binary32, so the sums and products are too.
    std::vector<float> ea, em;
    for (std::size_t i = 0; i < x.size(); ++i) {
      ea.push_back(static_cast<float>(x[i] + y[i]));
      em.push_back(static_cast<float>((x[i] + y[i]) * x[i]));
    }
    EXPECT_EQ(a.floats(), ea) << w.name;
    EXPECT_EQ(m.floats(), em) << w.name;
  }
}

TEST_F(CliTest, OneValueFillsATensorAndMissingInputsGetTheDefault) {
  const fs::path prog = file("ew.tess", kElementwise);
  const ProcessResult r = tool({"run", prog.string(), "--input", "y=0.5", "--save", (dir_ / "o").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  x  f32[2, 3]  default (1 + i mod 8)\n"), std::string::npos) << r.out;
  // x = 1..6 by default, y = 0.5 everywhere: a = x + 0.5.
  EXPECT_EQ(npy(dir_ / "o" / "a.npy").floats(), (std::vector<float>{1.5f, 2.5f, 3.5f, 4.5f, 5.5f, 6.5f}));
  // The printed table has the same numbers, one row per leading index.
  EXPECT_NE(r.out.find("  a  f32[2, 3]\n           0    1    2\n    [0]  1.5  2.5  3.5\n    [1]  4.5  5.5  6.5\n"),
            std::string::npos)
      << r.out;
}

TEST_F(CliTest, NormalisedBlockMatchesAReferenceInDoublePrecision) {
  const std::vector<double> x = {1, 0, -1, 2, 0.5, 0.5, 3, -2};
  const double w[4][3] = {{0.2, -0.5, 1}, {0.7, 0.1, -0.3}, {-0.4, 0.8, 0.5}, {0.3, 0, -1}};
  const double b[3] = {0.1, 0.2, 0.3}, gamma[3] = {1, 1.5, 0.5}, beta[3] = {0, 0.25, -0.25};
  const ProcessResult r = tool({"run", (kExamples / "normalised_block.tess").string(), "--input",
                                "x=1,0,-1,2,0.5,0.5,3,-2", "--save", (dir_ / "o").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<float> p = npy(dir_ / "o" / "p.npy").floats();
  ASSERT_EQ(p.size(), 6u);
  for (int row = 0; row < 2; ++row) {
    double z[3], mean = 0, var = 0, e[3], sum = 0;
    for (int j = 0; j < 3; ++j) {
      z[j] = b[j];
      for (int k = 0; k < 4; ++k) z[j] += x[row * 4 + k] * w[k][j];
      mean += z[j] / 3;
    }
    for (double v : z) var += (v - mean) * (v - mean) / 3;
    for (int j = 0; j < 3; ++j) {
      e[j] = std::exp((z[j] - mean) / std::sqrt(var + 1e-9) * gamma[j] + beta[j]);
      sum += e[j];
    }
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(p[row * 3 + j], e[j] / sum, 2e-6) << row << "," << j;
  }
}

TEST_F(CliTest, RepeatReportsFirstAndRepeatedRunTimes) {
  const ProcessResult r = tool({"run", file("ew.tess", kElementwise).string(), "--repeat", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\ntiming\n  first run "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  repeated runs (memo hits)    min "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" median "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" over 3 runs\n"), std::string::npos) << r.out;
}

TEST_F(CliTest, LargeOutputsAreTruncatedAroundAGap) {
  const fs::path prog = file("big.tess", "input x: f32[40, 30]\nlet y = neg(x)\noutput y\n");
  const ProcessResult r = tool({"run", prog.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("(showing 96 of 1200 elements)"), std::string::npos) << r.out;  // 12 rows x 8 columns
  EXPECT_NE(r.out.find("[39]"), std::string::npos) << "the last row is shown";
  EXPECT_EQ(r.out.find("[20]"), std::string::npos) << "middle rows are elided";
  EXPECT_LT(count_lines(r.out), 30u);
}

TEST_F(CliTest, SavedOutputsLoadInNumpy) {
  // The .npy reader above is the test's own; numpy itself is the reference
  // reader when this machine has it.
  if (std::system("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "numpy is not installed for /usr/bin/python3";
  }
  const ProcessResult r = tool({"run", file("ew.tess", kElementwise).string(), "--input", "x=1,2,3,4,5,6", "--input",
                                "y=-1", "--save", (dir_ / "o").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  const ProcessResult py =
      run_process("/usr/bin/python3",
                  {"-c",
                   "import numpy, sys; a = numpy.load(sys.argv[1]); "
                   "print(a.dtype, a.shape, ' '.join(repr(float(v)) for v in a.ravel()))",
                   (dir_ / "o" / "m.npy").string()},
                  dir_);
  ASSERT_EQ(py.status, 0) << py.err;
  EXPECT_EQ(py.out, "float32 (2, 3) 0.0 2.0 6.0 12.0 20.0 30.0\n");
}

// ---- inspect -----------------------------------------------------------------

std::uint64_t le64(const std::string& s, std::size_t at) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}

TEST_F(CliTest, InspectJsonParsesAndListsEverySection) {
  const fs::path archive = dir_ / "nb.tsa";
  ASSERT_EQ(tool({"compile", (kExamples / "normalised_block.tess").string(), "-o", archive.string()}).status, 0);
  const ProcessResult r = tool({"inspect", archive.string(), "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  JsonParser parser(r.out);
  const auto doc = parser.parse();
  ASSERT_TRUE(doc) << parser.error() << "\n" << r.out;

  // The section table read straight from the container: count at offset 8,
  // 24-byte entries from offset 10 (kind, 7 zero bytes, offset, length).
  const std::string bytes = slurp(archive);
  const std::size_t count = static_cast<unsigned char>(bytes[8]) | (static_cast<unsigned char>(bytes[9]) << 8);
  const std::map<int, std::string> names = {{1, "KernelCalls"}, {2, "Schedule"}, {3, "Weights"},
                                            {4, "ShapeRegistry"}, {6, "Certificates"}, {9, "Inputs"},
                                            {10, "Outputs"}, {11, "Constants"}, {12, "ExecPlan"}};
  const Json& sections = (*doc)["sections"];
  ASSERT_EQ(sections.items.size(), count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t e = 10 + 24 * i;
    const int kind = static_cast<unsigned char>(bytes[e]);
    EXPECT_EQ(sections.items[i]["kind"].number, kind);
    EXPECT_EQ(sections.items[i]["name"].text, names.at(kind));
    EXPECT_EQ(sections.items[i]["offset"].text, std::to_string(le64(bytes, e + 8)));
    EXPECT_EQ(sections.items[i]["size"].text, std::to_string(le64(bytes, e + 16)));
  }

  std::string trailer;
  for (std::size_t i = bytes.size() - 32; i < bytes.size(); ++i) {
    static const char* hex = "0123456789abcdef";
    trailer += hex[static_cast<unsigned char>(bytes[i]) >> 4];
    trailer += hex[static_cast<unsigned char>(bytes[i]) & 15];
  }
  EXPECT_EQ((*doc)["fingerprint"].text, trailer);
  EXPECT_EQ((*doc)["size"].number, static_cast<double>(bytes.size()));
  EXPECT_EQ((*doc)["version"].number, 4);

  const Json& calls = (*doc)["kernel_calls"];
  std::vector<std::string> kinds;
  for (const Json& c : calls.items) kinds.push_back(c["kind"].text);
  EXPECT_EQ(kinds, (std::vector<std::string>{"matmul", "add", "layer_norm", "softmax"}));
  const Json& matmul = calls.items.at(0)["params"];
  EXPECT_EQ(matmul["m"].number, 2);
  EXPECT_EQ(matmul["k"].number, 4);
  EXPECT_EQ(matmul["n"].number, 3);
  EXPECT_EQ(matmul["dtype"].text, "f32");
  EXPECT_EQ(calls.items.at(3)["params"]["rows"].number, 2);
  EXPECT_EQ(calls.items.at(3)["params"]["cols"].number, 3);

  const Json& x = (*doc)["inputs"].items.at(0);
  EXPECT_EQ(x["name"].text, "x");
  ASSERT_EQ(x["shape"].items.size(), 2u);
  EXPECT_EQ(x["shape"].items[0].number, 2);
  EXPECT_EQ(x["shape"].items[1].number, 4);
  EXPECT_EQ((*doc)["outputs"].items.at(0)["name"].text, "p");
  EXPECT_EQ((*doc)["constants"].items.size(), 4u);  // w, b, gamma, beta
  EXPECT_EQ((*doc)["exec_plan"].type, Json::Type::Array);
  EXPECT_EQ((*doc)["problems"].items.size(), 0u);

  // The text form names every section too.
  const ProcessResult text = tool({"inspect", archive.string()});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("sections (" + std::to_string(count) + ")"), std::string::npos);
  for (const Json& s : sections.items) EXPECT_NE(text.out.find(s["name"].text), std::string::npos) << s["name"].text;
  EXPECT_NE(text.out.find("fingerprint  " + trailer), std::string::npos);
}

TEST_F(CliTest, InspectRefusesADamagedArchive) {
  const fs::path archive = dir_ / "two.tsa";
  ASSERT_EQ(tool({"compile", (kExamples / "two_layer.tess").string(), "-o", archive.string()}).status, 0);
  std::string bytes = slurp(archive);
  bytes[bytes.size() / 2] ^= 0x01;
  const fs::path damaged = file("damaged.tsa", bytes);
  for (const char* cmd : {"inspect", "run"}) {
    const ProcessResult r = tool({cmd, damaged.string()});
    EXPECT_EQ(r.status, 1) << cmd;
    EXPECT_EQ(count_lines(r.err), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("tessary: error: ", 0), 0u) << r.err;
  }
  EXPECT_EQ(tool({"inspect", damaged.string()}).err, "tessary: error: not a valid archive: digest mismatch\n");
}

// ---- errors and help ---------------------------------------------------------

TEST_F(CliTest, EveryFailureIsOneLineOnStderrWithNonZeroStatus) {
  const std::string ew = file("ew.tess", kElementwise).string();
  const std::string two = (kExamples / "two_layer.tess").string();
  file("short.bin", std::string(20, '\0'));
  file("notnpy.npy", "plain text");
  file("fortran.npy", npy_f64("(2, 3)", {1, 2, 3, 4, 5, 6}, true));
  file("five.npy", npy_f64("(5,)", {1, 2, 3, 4, 5}));
  // clip with a single operand is refused by the backend whatever it runs.
  const std::string clip = file("clip.tess", "input x: f32[4]\nlet y = clip(x)\noutput y\n").string();
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"run", two, "--input", "q=1"}, "tessary: error: the program has no input 'q' (inputs: x)\n"},
      {{"run", two, "--input", "x=1,2"}, "tessary: error: input 'x' needs 4 values for shape [1, 4] (or one value for all), got 2\n"},
      {{"run", two, "--input", "x=1,2,z,4"}, "tessary: error: input 'x': 'z' is not a number\n"},
      {{"run", two, "--input", "x=1", "--input", "x=2"}, "tessary: error: input 'x' is given twice\n"},
      {{"run", two, "--input", "x"}, "tessary: error: --input 'x' is not NAME=VALUES, NAME=@FILE.npy or NAME=@FILE.bin\n"},
      {{"run", ew, "--input", "x=@" + (dir_ / "short.bin").string()},
       "tessary: error: input 'x' needs 24 bytes (6 f32 elements) but " + (dir_ / "short.bin").string() + " has 20\n"},
      {{"run", ew, "--input", "x=@" + (dir_ / "notnpy.npy").string()},
       "tessary: error: input 'x': " + (dir_ / "notnpy.npy").string() + ": not a .npy file (no \\x93NUMPY magic)\n"},
      {{"run", ew, "--input", "x=@" + (dir_ / "fortran.npy").string()},
       "tessary: error: input 'x': " + (dir_ / "fortran.npy").string() +
           ": .npy array is in Fortran order; save it with numpy.ascontiguousarray first\n"},
      {{"run", ew, "--input", "y=@" + (dir_ / "five.npy").string()},
       "tessary: error: input 'y' has shape [2, 3] (6 elements) but " + (dir_ / "five.npy").string() +
           " holds 5 elements (shape [5])\n"},
      {{"run", (dir_ / "missing.tess").string()},
       "tessary: error: cannot open '" + (dir_ / "missing.tess").string() + "': No such file or directory\n"},
      {{"run", clip},
       "tessary: error: run failed: kernel call 0 (clip, f32): Clip: expected desugaring to Min(Max(x,lo),hi); "
       "degenerate node reached lowering\n"},
      {{"frobnicate"},
       "tessary: error: unknown command 'frobnicate' (commands: compile, run, inspect; see 'tessary --help')\n"},
      {{"run"}, "tessary run: error: PATH is required (see 'tessary run --help')\n"},
      {{"inspect", two, "--bogus"},
       "tessary inspect: error: The following argument was not expected: --bogus (see 'tessary inspect --help')\n"},
  };
  for (const Case& c : cases) {
    const ProcessResult r = tool(c.args);
    EXPECT_NE(r.status, 0) << c.message;
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, "") << c.message;
  }
}

TEST_F(CliTest, HelpOnEverySubcommand) {
  struct Case {
    std::vector<std::string> args;
    const char* mentions;
  };
  const Case cases[] = {
      {{"--help"}, "inspect"},
      {{"compile", "--help"}, "--output"},
      {{"run", "--help"}, "--repeat"},
      {{"inspect", "--help"}, "--json"},
  };
  for (const Case& c : cases) {
    const ProcessResult r = tool(c.args);
    EXPECT_EQ(r.status, 0) << c.mentions;
    EXPECT_NE(r.out.find("Usage:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(c.mentions), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
  }
}

}  // namespace
}  // namespace tessary::tooltest
