# Precompiled headers. nlohmann/json and the standard library are parsed by nearly every
# file and GoogleTest by every test: about 2.5 s a file, a third of the build. Each is
# compiled once per tree, in two host targets, and every other target reuses the host
# that fits it. A target whose flags differ from the host's (Qt's position-independent
# code, the fuzzers' instrumentation) compiles without; a mismatch the compiler notices
# is an error under -Werror, never a silent slowdown.
option(VANTO_PCH "Precompile the headers most files include" ON)

set(vanto_pch_common
  <nlohmann/json.hpp> <algorithm> <atomic> <chrono> <condition_variable> <filesystem>
  <functional> <map> <memory> <mutex> <optional> <set> <stop_token> <string>
  <string_view> <thread> <unordered_map> <utility> <variant> <vector>)

# vanto_precompile_headers(): call once every target exists.
function(vanto_precompile_headers)
  if(NOT VANTO_PCH)
    return()
  endif()
  file(WRITE ${CMAKE_BINARY_DIR}/pch-host.cpp "// Only here to compile the precompiled headers.\n")
  _vanto_pch_host(vanto_pch_core)
  if(VANTO_FUZZ)
    # The libraries the fuzzers reach carry coverage instrumentation, which clang
    # requires of their precompiled header too.
    _vanto_pch_host(vanto_pch_fuzzed OPTIONS -fsanitize=fuzzer-no-link)
  endif()
  _vanto_pch_host(vanto_pch_tests LIBRARIES GTest::gtest HEADERS <gtest/gtest.h>)

  set(pending ${CMAKE_SOURCE_DIR})
  while(pending)
    list(POP_FRONT pending directory)
    get_property(children DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
    list(APPEND pending ${children})
    get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      _vanto_reuse_pch(${target})
    endforeach()
  endwhile()
endfunction()

# _vanto_pch_host(NAME [LIBRARIES libs...] [HEADERS headers...] [OPTIONS options...]):
# a target that only compiles the common headers, and these, for others to reuse.
function(_vanto_pch_host name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LIBRARIES;HEADERS;OPTIONS")
  add_library(${name} OBJECT ${CMAKE_BINARY_DIR}/pch-host.cpp)
  target_link_libraries(${name} PRIVATE nlohmann_json::nlohmann_json ${arg_LIBRARIES})
  target_compile_options(${name} PRIVATE ${arg_OPTIONS})
  target_precompile_headers(${name} PRIVATE ${vanto_pch_common} ${arg_HEADERS})
endfunction()

function(_vanto_reuse_pch target)
  get_target_property(type ${target} TYPE)
  if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|OBJECT_LIBRARY)$" OR target MATCHES "^vanto_pch_")
    return()
  endif()
  get_target_property(links ${target} LINK_LIBRARIES)
  get_target_property(options ${target} COMPILE_OPTIONS)
  if("${links}" MATCHES "Qt6::" OR "${options}" MATCHES "fsanitize=fuzzer(;|$)")
    return()
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12 forgets, for code from a precompiled header, that it is the standard
    # library's, and its object-size checks then misfire on std::string copies inlined at
    # -O2 (GCC bugs 105329 and 105651). Out-of-bounds accesses are still caught at run
    # time by the AddressSanitizer tree.
    target_compile_options(${target} PRIVATE -Wno-array-bounds -Wno-stringop-overflow -Wno-stringop-overread)
  endif()
  if("${options}" MATCHES "fsanitize=fuzzer-no-link")
    target_precompile_headers(${target} REUSE_FROM vanto_pch_fuzzed)
  elseif("${links}" MATCHES "GTest::")
    target_precompile_headers(${target} REUSE_FROM vanto_pch_tests)
  else()
    target_precompile_headers(${target} REUSE_FROM vanto_pch_core)
  endif()
endfunction()
