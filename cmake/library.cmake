# SPDX-License-Identifier: MIT
# tarn_add_library(NAME SHARED|STATIC [CHECKED])
#
# The library from the sources listed in TARN_SOURCES (relative to the
# project's top), built as the release library is: without exceptions or
# RTTI, with nothing visible but the tarn_ functions, linked as C. SHARED adds
# the SONAME and the link options of libtarn.so, STATIC position-independent
# objects, CHECKED the misuse checks (TARN_CHECKED). Sanitizers and warnings
# come from the directory's options, as for every target.
function(tarn_add_library name type)
  cmake_parse_arguments(PARSE_ARGV 2 arg "CHECKED" "" "")
  if(arg_UNPARSED_ARGUMENTS OR NOT type MATCHES "^(SHARED|STATIC)$")
    message(FATAL_ERROR "tarn_add_library(NAME SHARED|STATIC [CHECKED]), not: ${ARGV}")
  endif()
  list(TRANSFORM TARN_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/ OUTPUT_VARIABLE sources)
  add_library(${name} ${type} ${sources})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  # -fno-builtin-bcmp: where only the equality of a memcmp matters, Clang
  # would call bcmp instead, an import beyond libc's five that glibc serves
  # with the same function. The flag changes nothing else in either
  # compiler's code.
  target_compile_options(${name} PRIVATE -fno-exceptions -fno-rtti -fno-semantic-interposition
                         -fno-asynchronous-unwind-tables -fno-builtin-bcmp -falign-functions=64)
  if(arg_CHECKED)
    target_compile_definitions(${name} PRIVATE TARN_CHECKED=1)
  endif()
  # Only the tarn_ functions are visible, and nothing of the C++ runtime is
  # used: link as C so none is needed at load (or, for the archive, by a C
  # program that links it).
  set_target_properties(${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINKER_LANGUAGE C)
  if(type STREQUAL "SHARED")
    set_target_properties(${name} PROPERTIES
      VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
    # -Bsymbolic-functions: calls between exported functions bind at link
    # time, not through the PLT.
    target_link_options(${name} PRIVATE -Wl,--as-needed -Wl,-Bsymbolic-functions
                        -Wl,--version-script=${PROJECT_SOURCE_DIR}/src/exports.map)
    if(NOT TARN_SANITIZE) # sanitizer runtimes resolve their hooks at load time
      target_link_options(${name} PRIVATE -Wl,-z,defs)
    endif()
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/src/exports.map)
  else()
    # The archive's objects may end up in a program or in another shared
    # library.
    set_property(TARGET ${name} PROPERTY POSITION_INDEPENDENT_CODE ON)
  endif()
endfunction()
