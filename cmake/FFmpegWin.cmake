# FFmpeg's libraries for the Windows build: built from Debian's source by
# third_party/ffmpeg/build.sh into the machine's cache (once per version; scripts/setup
# normally has done it, else the first configure does), imported here as shared libraries
# whose DLLs are copied beside the engines that load them.
if(TARGET ffmpeg::libs)
  return()
endif()

# SUITE_JOBS, else the script's own default: the processors this process may use (CMake's
# count of the machine's would ignore taskset and container CPU sets).
set(_ffmpeg_jobs)
if(DEFINED ENV{SUITE_JOBS})
  set(_ffmpeg_jobs --jobs $ENV{SUITE_JOBS})
endif()
execute_process(
  COMMAND ${CMAKE_SOURCE_DIR}/third_party/ffmpeg/build.sh ${_ffmpeg_jobs}
  OUTPUT_VARIABLE _ffmpeg_out ERROR_VARIABLE _ffmpeg_err RESULT_VARIABLE _ffmpeg_rc
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT _ffmpeg_rc EQUAL 0)
  message(FATAL_ERROR "FFmpeg for Windows could not be built:\n${_ffmpeg_err}")
endif()
string(REGEX REPLACE ".*\n" "" FFMPEG_WIN_PREFIX "${_ffmpeg_out}")
message(STATUS "FFmpeg for Windows: ${FFMPEG_WIN_PREFIX}")

add_library(ffmpeg_libs INTERFACE)
add_library(ffmpeg::libs ALIAS ffmpeg_libs)
target_include_directories(ffmpeg_libs SYSTEM INTERFACE ${FFMPEG_WIN_PREFIX}/include)
foreach(_lib avformat avcodec swscale swresample avutil)
  target_link_libraries(ffmpeg_libs INTERFACE ${FFMPEG_WIN_PREFIX}/lib/lib${_lib}.dll.a)
endforeach()
file(GLOB FFMPEG_WIN_DLLS ${FFMPEG_WIN_PREFIX}/bin/*.dll)
# The libraries were linked by the posix-thread compiler, whose runtime thread library they
# import; it ships beside them (mingw-w64's, MIT-licensed).
execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=libwinpthread-1.dll
  OUTPUT_VARIABLE _winpthread OUTPUT_STRIP_TRAILING_WHITESPACE)
if(EXISTS "${_winpthread}")
  list(APPEND FFMPEG_WIN_DLLS ${_winpthread})
endif()

# Copies the DLLs into `folder` (where the engines are built) once per build.
function(suite_ffmpeg_dlls_into folder)
  set(_stamps)
  foreach(_dll IN LISTS FFMPEG_WIN_DLLS)
    get_filename_component(_name ${_dll} NAME)
    add_custom_command(OUTPUT ${folder}/${_name}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_dll} ${folder}/${_name}
      DEPENDS ${_dll} VERBATIM)
    list(APPEND _stamps ${folder}/${_name})
  endforeach()
  add_custom_target(ffmpeg_dlls ALL DEPENDS ${_stamps})
endfunction()
