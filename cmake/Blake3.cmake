# BLAKE3 comes from the reference C implementation that Debian ships inside
# librust-blake3-dev. It is built here as a static library with its x86-64
# assembly paths (SSE2, SSE4.1, AVX2, AVX-512) and runtime dispatch.
file(GLOB _blake3_candidates LIST_DIRECTORIES true "/usr/share/cargo/registry/blake3-*/c")
set(TESSARY_BLAKE3_DIR "" CACHE PATH "Directory holding the BLAKE3 C sources (blake3.c, blake3.h)")
if(NOT TESSARY_BLAKE3_DIR)
  foreach(_dir IN LISTS _blake3_candidates)
    if(EXISTS "${_dir}/blake3.c" AND EXISTS "${_dir}/blake3_avx512_x86-64_unix.S")
      set(TESSARY_BLAKE3_DIR "${_dir}")
    endif()
  endforeach()
endif()
if(NOT TESSARY_BLAKE3_DIR OR NOT EXISTS "${TESSARY_BLAKE3_DIR}/blake3.c")
  message(FATAL_ERROR "BLAKE3 C sources not found: install the Debian package librust-blake3-dev (or set TESSARY_BLAKE3_DIR)")
endif()

add_library(tessary_blake3 STATIC
  "${TESSARY_BLAKE3_DIR}/blake3.c"
  "${TESSARY_BLAKE3_DIR}/blake3_dispatch.c"
  "${TESSARY_BLAKE3_DIR}/blake3_portable.c"
  "${TESSARY_BLAKE3_DIR}/blake3_sse2_x86-64_unix.S"
  "${TESSARY_BLAKE3_DIR}/blake3_sse41_x86-64_unix.S"
  "${TESSARY_BLAKE3_DIR}/blake3_avx2_x86-64_unix.S"
  "${TESSARY_BLAKE3_DIR}/blake3_avx512_x86-64_unix.S")
target_include_directories(tessary_blake3 SYSTEM PUBLIC "${TESSARY_BLAKE3_DIR}")
set_target_properties(tessary_blake3 PROPERTIES C_VISIBILITY_PRESET hidden)
