/* Compiled as strict C99 against the shared library: the public header must
 * be plain C, and the alias pairs must be one function under two names. */
#include <stdio.h>
#include <string.h>

#include "tessary/tessary.h"

static int failures = 0;

#define CHECK(cond)                                          \
  do {                                                       \
    if (!(cond)) {                                           \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                            \
    }                                                        \
  } while (0)

int main(void) {
  const uint8_t session[] = {'s', 'e', 's', 's', 'i', 'o', 'n'};
  CHECK(tessary_abi_version() == 1);
  CHECK(tessary_archive_format_version() == 4);
  CHECK(tessary_feature_supported(session, sizeof session) == 1);
  CHECK(tessary_feature_supported(NULL, 3) == -1);
  CHECK(tessary_last_error() == 10);
  CHECK(strcmp(tessary_last_error_message(), "string null") == 0);
  CHECK(&tessary_last_error == &tessary_last_error_code);
  CHECK(&tessary_last_error_message == &tessary_error_message);
  return failures == 0 ? 0 : 1;
}
