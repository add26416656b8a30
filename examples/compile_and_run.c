/* Compiles program text with the C interface and runs it.
 *
 * The program is the two-layer block of examples/two_layer.tess:
 *   h = x . w, r = relu(h), s = sum of r over its columns.
 * For x = [1, 2, 3, 4], h = [1*0.5 + 2*2 + 3*1.5 + 4*-0.25, 1*-1 + 2*0 + 3*1 + 4*3]
 *                          = [8, 14], r = [8, 14] and s = [[22]].
 *
 * Steps: compile (asking for the archive's length first), load the archive
 * into a session, read the ports, execute twice (the second run is answered
 * from the session's result memo), close. Then the same for a program with a
 * mistake, to show what the last-error record says about it. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tessary/tessary.h"

static const char kProgram[] =
    "# two-layer block\n"
    "input x: f32[1, 4]\n"
    "const w: f32[4, 2] = [0.5, -1, 2, 0, 1.5, 1, -0.25, 3]\n"
    "let h = matmul(x, w)\n"
    "let r: f32[1, 2] = relu(h)\n"
    "let s = reduce_sum(r, axes=[1], keepdims=true)\n"
    "output s\n";

/* Line 3 names an op kind that does not exist. */
static const char kBroken[] =
    "input x: f32[4]\n"
    "let y = relu(x)\n"
    "let z = relu6(y)\n"
    "output z\n";

static uint8_t* compile(const char* text, size_t* len_out) {
  uint8_t probe = 0;
  int32_t len;
  uint8_t* archive;
  /* A capacity of 0 asks for the length; nothing is copied. */
  len = tessary_compile_source((const uint8_t*)text, strlen(text), &probe, 0);
  if (len < 0) return NULL;
  archive = (uint8_t*)malloc((size_t)len);
  if (archive == NULL) return NULL;
  if (tessary_compile_source((const uint8_t*)text, strlen(text), archive, (size_t)len) != len) {
    free(archive);
    return NULL;
  }
  *len_out = (size_t)len;
  return archive;
}

static void print_port(int32_t session, size_t index, int output) {
  char name[64];
  uint64_t dims[8];
  int32_t name_len, rank, i;
  name_len = output ? tessary_session_output_name(session, index, (uint8_t*)name, sizeof name - 1)
                    : tessary_session_input_name(session, index, (uint8_t*)name, sizeof name - 1);
  rank = output ? tessary_session_output_shape(session, index, dims, 8)
                : tessary_session_input_shape(session, index, dims, 8);
  if (name_len < 0 || rank < 0) return;
  name[name_len < (int32_t)sizeof name - 1 ? name_len : (int32_t)sizeof name - 1] = '\0';
  printf("  %s %s: dtype tag %d, shape [", output ? "output" : "input", name,
         (int)(output ? tessary_session_output_dtype(session, index) : tessary_session_input_dtype(session, index)));
  for (i = 0; i < rank && i < 8; ++i) printf(i ? ", %llu" : "%llu", (unsigned long long)dims[i]);
  printf("]\n");
}

int main(void) {
  size_t len = 0;
  uint8_t* archive;
  int32_t session;
  float x[4] = {1, 2, 3, 4};
  float s = 0;
  const uint8_t* inputs[1];
  size_t input_lens[1];
  uint8_t* outputs[1];
  size_t output_caps[1];
  int run;

  archive = compile(kProgram, &len);
  if (archive == NULL) {
    fprintf(stderr, "compile failed: %s\n", tessary_last_error_message());
    return 1;
  }
  printf("compiled the two-layer block: %zu archive bytes\n", len);

  /* The session keeps its own copies: the archive can be freed at once. */
  session = tessary_session_load(archive, len);
  free(archive);
  if (session < 0) {
    fprintf(stderr, "the archive does not load\n");
    return 1;
  }
  printf("session %d: %d kernel calls\n", (int)session, (int)tessary_session_kernel_count(session));
  print_port(session, 0, 0);
  print_port(session, 0, 1);

  inputs[0] = (const uint8_t*)x;
  input_lens[0] = sizeof x;
  outputs[0] = (uint8_t*)&s;
  output_caps[0] = sizeof s;
  for (run = 1; run <= 2; ++run) {
    if (tessary_session_execute(session, inputs, input_lens, 1, outputs, output_caps, 1) != 0) {
      fprintf(stderr, "run %d failed\n", run);
      tessary_session_close(session);
      return 1;
    }
    printf("run %d: s = [[%g]]%s\n", run, s, run == 2 ? "  (same inputs: answered from the result memo)" : "");
  }
  tessary_session_close(session);
  if (s != 22.0f) {
    fprintf(stderr, "expected s = 22\n");
    return 1;
  }

  /* A refused program: the last-error record of this thread explains it. */
  if (compile(kBroken, &len) != NULL) {
    fprintf(stderr, "the broken program compiled\n");
    return 1;
  }
  printf("the broken program is refused: line %llu, column %llu: %s (code %d, at \"%s\")\n",
         (unsigned long long)tessary_last_error_line(), (unsigned long long)tessary_last_error_column(),
         tessary_last_error_message(), (int)tessary_last_error(),
         tessary_last_error_rejected() ? tessary_last_error_rejected() : "");
  return 0;
}
