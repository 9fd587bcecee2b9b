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

# The thread sanitizer's run: the tests of code that starts threads, not the whole tree again
# (the address sanitizer's run has every test). A test belongs to it when it lies in, or links
# (directly or through other libraries) a library of, a unit whose code starts threads, or
# when its own sources start threads. Fuzz runs (tests of a fuzz target) are single-threaded
# and stay with the address sanitizer.
set(SUITE_THREADED_UNITS
  filters/encoder/core  # the encoder's worker group
  filters/decoder/core  # the deblocking worker
  filters/muxer/core    # the multiplexer engine's threads
  editor/core)          # the editing engine's clip threads
set(SUITE_THREAD_START_PATTERN "std::(thread|jthread|async)|CreateThread|_beginthread|common/threads\\.h")
# Within those, the tests that start no thread leave the run, and so do the tests whose threads
# meet as another test's of the run do (cmake/SingleThreadedTests.cmake).
include("${CMAKE_CURRENT_LIST_DIR}/SingleThreadedTests.cmake")

# Whether `dir` lies in one of SUITE_THREADED_UNITS.
function(suite_in_threaded_unit dir out)
  file(RELATIVE_PATH rel "${CMAKE_SOURCE_DIR}" "${dir}")
  set(${out} OFF PARENT_SCOPE)
  foreach(unit IN LISTS SUITE_THREADED_UNITS)
    if(rel STREQUAL unit OR rel MATCHES "^${unit}/")
      set(${out} ON PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()

# Whether `target` or a library it links comes from a threaded unit (`threads`), or is a fuzz
# target's object library (`fuzz`). Libraries are looked at once each.
function(suite_link_kinds target threads fuzz)
  set(todo ${target})
  set(seen)
  set(t OFF)
  set(f OFF)
  while(todo)
    list(POP_FRONT todo lib)
    # By name: a unit may add its fuzz targets after the tests that run them.
    if(lib MATCHES "_fuzz_target$")
      set(f ON)
    endif()
    if(lib IN_LIST seen OR NOT TARGET ${lib})
      continue()
    endif()
    list(APPEND seen ${lib})
    get_target_property(aliased ${lib} ALIASED_TARGET)
    if(aliased)
      list(APPEND todo ${aliased})
      continue()
    endif()
    get_target_property(imported ${lib} IMPORTED)
    if(imported)
      continue()
    endif()
    get_target_property(dir ${lib} SOURCE_DIR)
    suite_in_threaded_unit("${dir}" in_unit)
    if(in_unit)
      set(t ON)
    endif()
    foreach(prop LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(libs ${lib} ${prop})
      if(libs)
        list(APPEND todo ${libs})
      endif()
    endforeach()
  endwhile()
  set(${threads} ${t} PARENT_SCOPE)
  set(${fuzz} ${f} PARENT_SCOPE)
endfunction()

# Sets `out` when the test executable `name` (sources `sources`) belongs to the thread
# sanitizer's run.
function(suite_tests_threads name sources out)
  suite_link_kinds(${name} threads fuzz)
  if(NOT threads)
    foreach(src IN LISTS sources)
      get_filename_component(path "${src}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
      if(EXISTS "${path}")
        file(STRINGS "${path}" hits REGEX "${SUITE_THREAD_START_PATTERN}")
        if(hits)
          set(threads ON)
          break()
        endif()
      endif()
    endforeach()
  endif()
  if(threads AND NOT fuzz)
    set(${out} ON PARENT_SCOPE)
  else()
    set(${out} OFF PARENT_SCOPE)
  endif()
endfunction()

# Test executables are compiled a few sources at a time as one translation unit: GoogleTest's
# headers, and the code they bring, cost a small test source most of its compile time (five
# small sources of the services' tests: 44 processor seconds apart, 11 as one unit with the
# sanitizers; 48 and 14 with mingw), and a batch pays that once. Helpers at namespace scope
# must therefore be named apart within a test executable, as its tests are; the sources of
# SUITE_UNITY_APART (relative to the top folder), whose helpers share a name with another
# source's of their executable, are compiled on their own. A batch is recompiled whole when
# one of its sources changes. On by default in the sanitizers' and the Windows
# configurations (the ones scripts/test builds); the release configuration's test
# executables have not yet been built so.
if(SUITE_SANITIZE OR SUITE_SANITIZE_THREAD OR SUITE_WIN)
  set(suite_unity_default ON)
else()
  set(suite_unity_default OFF)
endif()
option(SUITE_UNITY_TESTS "Compile each test executable's sources in batches" ${suite_unity_default})
set(SUITE_UNITY_BATCH 8 CACHE STRING "Sources of a test executable compiled as one unit")
set(SUITE_UNITY_APART
  common/tests/bitstream/h264_sps_test.cpp
  filters/decoder/core/tests/nal_extraction_test.cpp
  filters/decoder/core/tests/param_sets_test.cpp
  filters/decoder/core/tests/picture_store_test.cpp
  filters/encoder/core/tests/frame_scheduler_test.cpp
  filters/encoder/core/tests/kernel_reference.cpp)

# What scripts/test builds of a configuration: the test executables and what they load.
add_custom_target(suite_tests)

# With SUITE_TESTS_PER_PROGRAM=1 in ctest's environment, a Windows test executable is one
# test, its whole run in one Wine process, instead of one test (and one Wine process) for each
# of its cases. A Wine process costs about half a second of processor time to start and end,
# wineserver included, and the per-case discovery runs each executable once more before any
# test starts; scripts/test runs the suite so. The executable's own output still names every
# case that failed. Without it (a developer's `ctest -R Suite.Case`) the cases are tests of
# their own, as discovered. A hung case ends its executable's run after TIMEOUT seconds.
# Until ctest has learnt their times, the window test executables start first: they hold
# most of the long tests, and one of them starting last would run on alone.
#
# Each executable takes one slot of the resource `cores` (RESOURCE_GROUPS), except those
# added with WAITS, whose run is mostly waiting on the clock (a tape played at its frame
# rate) rather than processor time. scripts/test gives ctest as many `cores` slots as it
# has jobs (a resource file) and a higher -j, so that the waiting executables run beside
# as many busy ones as there are processors. Without a resource file (`ctest -j N` by
# hand) ctest ignores the resource and -j alone bounds them.
set(SUITE_PROGRAM_TIMEOUT 2400)
function(suite_win_program_entry name waits)
  get_property(includes DIRECTORY PROPERTY TEST_INCLUDE_FILES)
  list(POP_BACK includes discovered)
  set(program_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_program.cmake")
  # LABELS <label> [ENVIRONMENT <setting>], as the discovered cases carry them.
  list(JOIN ARGN " " properties)
  if(ARGV2 STREQUAL "gui")
    string(APPEND properties " COST 10")
  else()
    string(APPEND properties " COST 1")
  endif()
  if(NOT waits)
    string(APPEND properties " RESOURCE_GROUPS cores:1")
  endif()
  file(GENERATE OUTPUT "${program_file}" CONTENT
"if(\"\$ENV{SUITE_TESTS_PER_PROGRAM}\" STREQUAL \"1\")
  add_test([==[${name}]==] [==[${CMAKE_CROSSCOMPILING_EMULATOR}]==] [==[$<TARGET_FILE:${name}>]==])
  set_tests_properties([==[${name}]==] PROPERTIES WORKING_DIRECTORY [==[${CMAKE_CURRENT_BINARY_DIR}]==]
    TIMEOUT ${SUITE_PROGRAM_TIMEOUT} LABELS ${properties})
else()
  include([==[${discovered}]==])
endif()
")
  set_property(DIRECTORY PROPERTY TEST_INCLUDE_FILES ${includes} "${program_file}")
endfunction()

# suite_add_gtest(<name> SOURCES ... [LIBS ...] [GUI [SCREEN WIDTHxHEIGHT]] [WAITS] [REGISTERS])
# Builds a GoogleTest executable and registers its tests with CTest, labelled `host` in
# the native configuration, `wine` in the Windows one, or `gui` with GUI (Windows tests
# that need the Xvfb display). Windows tests are discovered and run through the Wine wrapper.
# WAITS marks a Windows executable whose run is mostly real-time waiting, not processor
# time (see suite_win_program_entry); it does not change what runs.
# REGISTERS marks a Windows executable that registers or removes COM classes or filters
# (regsvr32, the filter mapper), or whose tests need one of them present or absent: a
# Wine prefix has one registry, which every program in it sees at once. Such a test runs
# alone in a prefix: it takes a display slot, as a window test does (scripts/wine-env);
# the other `wine` tests share the project's prefix. Window tests always run so, and need
# no mark.
# SCREEN runs a GUI executable's tests on a screen of that size instead of 1024x768 (in a
# Wine prefix and Xvfb of that screen's own, see scripts/wine-env).
#
# Value-parameterised tests are named by index or by the suite's name generator
# (Prefix/Suite.Case/0, Prefix/Suite.Case/generated), and typed tests by index
# (Suite.Case<0>), never by the printed value or type: those can be hundreds of characters
# long (every result line is padded to the longest name) and, when they hold pointers,
# differ at every discovery, so that `ctest -R` cannot name them.
function(suite_add_gtest name)
  cmake_parse_arguments(ARG "GUI;WAITS;REGISTERS" "SCREEN" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(SUITE_UNITY_TESTS)
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${SUITE_UNITY_BATCH})
    # A source included into a batch is no longer the main file, so GCC takes a fixture in
    # its anonymous namespace for one declared in a header and warns of its test classes.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${name} PRIVATE -Wno-subobject-linkage)
    endif()
    foreach(src IN LISTS ARG_SOURCES)
      get_filename_component(path "${src}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
      file(RELATIVE_PATH rel "${CMAKE_SOURCE_DIR}" "${path}")
      if(rel IN_LIST SUITE_UNITY_APART)
        set_source_files_properties("${src}" PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
      endif()
    endforeach()
  endif()
  if(SUITE_WIN)
    # GoogleTest's main() that also records the exit code for scripts/wine-run.
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} suite_gtest_main GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  endif()
  if(SUITE_WIN)
    # One label a test: `gui` tests also run under Wine, but need a display of their own,
    # which scripts/wine-run gives each (a display slot: its own Wine prefix and Xvfb), so
    # that they run side by side. (The discovery script flattens a list of labels, so a
    # test cannot carry both.)
    if(ARG_GUI AND ARG_SCREEN)
      set(label gui ENVIRONMENT SUITE_WINDOW_TEST=${ARG_SCREEN})
    elseif(ARG_GUI)
      set(label gui ENVIRONMENT SUITE_WINDOW_TEST=1)
    elseif(ARG_REGISTERS)
      set(label wine ENVIRONMENT SUITE_PREFIX_ALONE=1)
    else()
      set(label wine)
    endif()
    add_dependencies(suite_tests ${name})
    # Discovery at test time, not build time: building needs no Wine.
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 180
      NO_PRETTY_VALUES NO_PRETTY_TYPES
      PROPERTIES TIMEOUT 600 LABELS ${label})
    suite_win_program_entry(${name} "${ARG_WAITS}" ${label})
  else()
    if(ARG_GUI)
      message(FATAL_ERROR "${name}: GUI tests exist only in the Windows configuration")
    endif()
    set(filter)
    if(SUITE_SANITIZE_THREAD)
      suite_tests_threads(${name} "${ARG_SOURCES}" threaded)
      if(NOT threaded OR name IN_LIST SUITE_SINGLE_THREADED_TEST_PROGRAMS)
        set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON)
        return()
      endif()
      set(skipped ${SUITE_TSAN_SKIP_${name}} ${SUITE_TSAN_REPEATS_${name}})
      if(skipped)
        list(JOIN skipped ":" skipped)
        set(filter TEST_FILTER "-${skipped}")
      endif()
    endif()
    add_dependencies(suite_tests ${name})
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      NO_PRETTY_VALUES NO_PRETTY_TYPES
      ${filter}
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
