# GoogleTest from Debian's sources, built with the configuration's own compiler, and
# suite_add_gtest(): one call per test executable of a unit.
include(GoogleTest)

set(SUITE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
if(NOT EXISTS "${SUITE_GTEST_SOURCE}/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest sources not found in ${SUITE_GTEST_SOURCE}: run scripts/setup")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
# GoogleTest's own sources are not held to our warning set.
add_subdirectory("${SUITE_GTEST_SOURCE}" "${CMAKE_BINARY_DIR}/_deps/googletest" EXCLUDE_FROM_ALL SYSTEM)
foreach(t gtest gtest_main gmock gmock_main)
  if(TARGET ${t})
    target_compile_options(${t} PRIVATE -Wno-error)
  endif()
endforeach()

# Media fixtures are generated at test time into the build tree, once per command line.
set(SUITE_FIXTURE_DIR "${CMAKE_BINARY_DIR}/fixtures")
file(MAKE_DIRECTORY "${SUITE_FIXTURE_DIR}")

# suite_add_gtest(<name> SOURCES ... [LIBS ...] [GUI])
# Builds a GoogleTest executable and registers its tests with CTest, labelled `host` in
# the native configuration, `wine` in the Windows one, or `gui` with GUI (Windows tests
# that need the Xvfb display). Windows tests are discovered and run through the Wine wrapper.
#
# Value-parameterised tests are named by index or by the suite's name generator
# (Prefix/Suite.Case/0, Prefix/Suite.Case/generated), and typed tests by index
# (Suite.Case<0>), never by the printed value or type: those can be hundreds of characters
# long (every result line is padded to the longest name) and, when they hold pointers,
# differ at every discovery, so that `ctest -R` cannot name them.
function(suite_add_gtest name)
  cmake_parse_arguments(ARG "GUI" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  if(SUITE_WIN)
    # One label a test: `gui` tests also run under Wine, but need the display, and share
    # one screen, so they run one at a time. (The discovery script flattens a list of
    # labels, so a test cannot carry both.)
    if(ARG_GUI)
      set(label gui RESOURCE_LOCK display)
    else()
      set(label wine)
    endif()
    # Discovery at test time, not build time: building needs no Wine.
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 180
      NO_PRETTY_VALUES NO_PRETTY_TYPES
      PROPERTIES TIMEOUT 600 LABELS ${label})
  else()
    if(ARG_GUI)
      message(FATAL_ERROR "${name}: GUI tests exist only in the Windows configuration")
    endif()
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      NO_PRETTY_VALUES NO_PRETTY_TYPES
      PROPERTIES LABELS host TIMEOUT 600)
  endif()
endfunction()

# Fuzz targets. With clang, a target links with libFuzzer (-fsanitize=fuzzer, which brings
# its own main); otherwise with the shared driver's main (tests/support/fuzz_driver.h).
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(suite_libfuzzer_default ON)
else()
  set(suite_libfuzzer_default OFF)
endif()
option(SUITE_LIBFUZZER "Build the fuzz targets with clang's libFuzzer" ${suite_libfuzzer_default})

# suite_add_fuzz_target(<name> SOURCES ... [LIBS ...] [INSTRUMENT lib...])
# Builds the target's sources as <name>_target (an object library, for in-process tests
# through fuzzdriver::RunFuzzTarget) and the executable <name>. With libFuzzer the
# executable compiles the sources itself, instrumented; INSTRUMENT names the libraries
# under test it should take coverage from as well, which is done only with SUITE_SANITIZE,
# whose runtime serves the coverage hooks in the other programs that link them.
function(suite_add_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;INSTRUMENT" ${ARGN})
  add_library(${name}_target OBJECT ${ARG_SOURCES})
  target_link_libraries(${name}_target PUBLIC ${ARG_LIBS} fuzzdriver)
  if(SUITE_LIBFUZZER)
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} fuzzdriver)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    if(SUITE_SANITIZE)
      foreach(lib ${ARG_INSTRUMENT})
        target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link)
      endforeach()
    endif()
  else()
    add_executable(${name})
    target_link_libraries(${name} PRIVATE ${name}_target fuzzdriver_main)
  endif()
endfunction()
