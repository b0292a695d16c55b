# Cross build for Windows with Debian's mingw-w64 (the POSIX thread model, for std::thread and std::mutex),
# linked statically so the programs need no libraries beside them but Windows' own. Tests run under Wine.
# The shipped program is 32-bit; -DORVANE_MINGW_TRIPLE=x86_64-w64-mingw32 builds a 64-bit one instead.
set(CMAKE_SYSTEM_NAME Windows)

if(NOT ORVANE_MINGW_TRIPLE)
  set(ORVANE_MINGW_TRIPLE i686-w64-mingw32)
endif()
set(ORVANE_MINGW_TRIPLE ${ORVANE_MINGW_TRIPLE} CACHE STRING "The mingw-w64 target triple (i686 or x86_64)")
# The compiler checks run this file again in a project of their own, which must see the same triple.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORVANE_MINGW_TRIPLE)
if(ORVANE_MINGW_TRIPLE MATCHES "^i686-")
  set(CMAKE_SYSTEM_PROCESSOR x86)
  # A 32-bit program on msvcrt.dll gets a 32-bit time_t unless asked otherwise: dates after January 2038 (a
  # cookie's expiry, say) would wrap into the past. msvcrt.dll has the 64-bit time functions too.
  set(CMAKE_C_FLAGS_INIT -D__MINGW_USE_VC2005_COMPAT)
  set(CMAKE_CXX_FLAGS_INIT -D__MINGW_USE_VC2005_COMPAT)
elseif(ORVANE_MINGW_TRIPLE MATCHES "^x86_64-")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  message(FATAL_ERROR "ORVANE_MINGW_TRIPLE: ${ORVANE_MINGW_TRIPLE} is neither i686 nor x86_64 mingw-w64")
endif()

set(CMAKE_C_COMPILER ${ORVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVANE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static alone does not keep zlib in: FindZLIB would name the import library libz.dll.a by its full path, and the
# programs would then need zlib1.dll, which Windows does not have.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# Through a wrapper that keeps Wine's background processes off ctest's output pipe.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/lib/wine-test.sh)
