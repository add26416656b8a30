/* Prints the library's versions and which features it announces. */
#include <stdio.h>
#include <string.h>

#include "tessary/tessary.h"

int main(void) {
  static const char* const names[] = {
      "abi.v1",           "session",           "archive.v2",           "compile.empty",
      "compile.source",   "source-builder",    "errors.locations",     "errors.structured",
      "source-builder.const", "source-builder.const-ref", "source-builder.output-alias",
  };
  size_t i;
  printf("tessary C interface version %d, archive format version %d\n", (int)tessary_abi_version(),
         (int)tessary_archive_format_version());
  for (i = 0; i < sizeof names / sizeof names[0]; ++i) {
    int32_t r = tessary_feature_supported((const uint8_t*)names[i], strlen(names[i]));
    printf("  %-28s %s\n", names[i], r == 1 ? "yes" : "no");
  }
  return 0;
}
