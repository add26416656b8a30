# One static library per subsystem folder. Sources are found by glob so that a
# new file needs no CMake edit; files ending in _avx2.cc or _avx512.cc are
# compiled with the matching target flags and nothing else is. The AVX-512
# tier is chosen on AVX-512F alone, so its files may use nothing beyond F.
function(tessary_subsystem name dir)
  cmake_parse_arguments(ARG "" "KIND" "DEPS" ${ARGN})
  if(NOT ARG_KIND)
    set(ARG_KIND STATIC)
  endif()
  file(GLOB _srcs CONFIGURE_DEPENDS "${dir}/*.cc" "${dir}/*.c")
  if(_srcs)
    add_library(${name} ${ARG_KIND} ${_srcs})
    target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/include")
    target_compile_options(${name} PRIVATE ${TESSARY_WARNINGS})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    # g++ 12 reports its own AVX-512 intrinsic headers as reading an
    # uninitialised value (the _mm512_undefined_* idiom); those warnings are
    # silenced for the AVX-512 files only.
    foreach(_src IN LISTS _srcs)
      if(_src MATCHES "_avx512\\.cc$")
        set_source_files_properties(${_src} PROPERTIES COMPILE_OPTIONS
          "-mavx512f;-mavx2;-mfma;-mf16c;-Wno-maybe-uninitialized;-Wno-uninitialized")
      elseif(_src MATCHES "_avx2\\.cc$")
        set_source_files_properties(${_src} PROPERTIES COMPILE_OPTIONS "-mavx2;-mfma;-mf16c")
      endif()
    endforeach()
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/include")
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()
