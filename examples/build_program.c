/* Builds a program statement by statement with the source builder, compiles
 * it and runs it: a softmax with temperature 2 over the rows of x,
 *   scaled = x * 0.5;  probs = softmax(scaled)
 * The output port is named "probs" through an output alias. The result is
 * checked against the same computation done here in double precision. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tessary/tessary.h"

/* A TessaryString over a C string literal. */
static TessaryString str(const char* s) {
  TessaryString t;
  t.ptr = (const uint8_t*)s;
  t.len = strlen(s);
  return t;
}

static int check(int32_t status, const char* what) {
  if (status >= 0) return 1;
  fprintf(stderr, "%s failed: %s (code %d)\n", what, tessary_last_error_message(), (int)tessary_last_error());
  return 0;
}

int main(void) {
  static const uint64_t dims[2] = {2, 3};
  static const float half[6] = {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
  float x[6] = {1, 2, 3, -1, 0, 4};
  float probs[6];
  TessarySourceBuilder* b;
  TessaryTensorDescriptor input;
  TessaryConstDescriptor temperature;
  TessaryOpDescriptor op;
  TessaryString operands[2];
  uint8_t* archive;
  int32_t len, session, i, r;
  const uint8_t* inputs[1];
  size_t input_lens[1];
  uint8_t* outputs[1];
  size_t output_caps[1];
  uint8_t name[16];

  b = tessary_source_builder_new();
  if (b == NULL) return 1;

  memset(&input, 0, sizeof input);
  input.name = str("x");
  input.dtype = 8; /* f32 */
  input.dims = dims;
  input.rank = 2;

  memset(&temperature, 0, sizeof temperature);
  temperature.name = str("half");
  temperature.dtype = 8;
  temperature.dims = dims;
  temperature.rank = 2;
  temperature.bytes = (const uint8_t*)half;
  temperature.byte_len = sizeof half;

  if (!check(tessary_source_builder_input(b, &input), "input") ||
      !check(tessary_source_builder_const(b, &temperature), "const")) {
    tessary_source_builder_free(b);
    return 1;
  }

  /* Result shapes of element-wise ops and softmax are inferred, so rank 0
   * (no declared shape) is fine here. */
  memset(&op, 0, sizeof op);
  operands[0] = str("x");
  operands[1] = str("half");
  op.result = str("scaled");
  op.op = str("mul");
  op.inputs = operands;
  op.input_count = 2;
  if (!check(tessary_source_builder_op(b, &op), "mul")) {
    tessary_source_builder_free(b);
    return 1;
  }
  operands[0] = str("scaled");
  op.result = str("p");
  op.op = str("softmax");
  op.input_count = 1;
  if (!check(tessary_source_builder_op(b, &op), "softmax") ||
      !check(tessary_source_builder_output_alias(b, (const uint8_t*)"p", 1, (const uint8_t*)"probs", 5),
             "output")) {
    tessary_source_builder_free(b);
    return 1;
  }

  /* Length first, then the archive. The builder stays usable afterwards. */
  len = tessary_source_builder_compile(b, name, 0);
  if (!check(len, "compile")) {
    tessary_source_builder_free(b);
    return 1;
  }
  archive = (uint8_t*)malloc((size_t)len);
  if (archive == NULL || tessary_source_builder_compile(b, archive, (size_t)len) != len) {
    free(archive);
    tessary_source_builder_free(b);
    return 1;
  }
  tessary_source_builder_free(b);

  session = tessary_session_load(archive, (size_t)len);
  free(archive);
  if (session < 0) return 1;
  r = tessary_session_output_name(session, 0, name, sizeof name);
  printf("built and compiled: %d archive bytes, output port \"%.*s\"\n", (int)len, r > 0 ? (int)r : 0,
         (const char*)name);

  inputs[0] = (const uint8_t*)x;
  input_lens[0] = sizeof x;
  outputs[0] = (uint8_t*)probs;
  output_caps[0] = sizeof probs;
  if (tessary_session_execute(session, inputs, input_lens, 1, outputs, output_caps, 1) != 0) {
    fprintf(stderr, "run failed\n");
    tessary_session_close(session);
    return 1;
  }
  tessary_session_close(session);

  for (r = 0; r < 2; ++r) {
    double sum = 0, expect[3];
    for (i = 0; i < 3; ++i) sum += exp(0.5 * x[r * 3 + i]);
    printf("probs[%d] =", (int)r);
    for (i = 0; i < 3; ++i) {
      expect[i] = exp(0.5 * x[r * 3 + i]) / sum;
      printf(" %.6f", probs[r * 3 + i]);
    }
    printf("\n");
    for (i = 0; i < 3; ++i) {
      if (fabs(probs[r * 3 + i] - expect[i]) > 1e-6) {
        fprintf(stderr, "probs[%d][%d] = %.9g, expected %.9g\n", (int)r, (int)i, probs[r * 3 + i], expect[i]);
        return 1;
      }
    }
  }
  return 0;
}
