# libzstd for the difference engine, as the target orvane_zstd. Linux links the distribution's library. mingw-w64
# has none, so the Windows build compiles the same version from Debian's source package, which
# scripts/bootstrap.sh unpacks into ORVANE_ZSTD_SOURCE, and links it statically: the program still imports
# Windows' own DLLs only. The fuzz build compiles it too, so that the fuzzer sees which paths of the decoder an
# input reaches.
if(TARGET orvane_zstd)
  return()
endif()
if(NOT WIN32 AND NOT ORVANE_FUZZ)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
  add_library(orvane_zstd INTERFACE)
  target_link_libraries(orvane_zstd INTERFACE PkgConfig::ZSTD)
  return()
endif()

set(ORVANE_ZSTD_SOURCE /var/cache/orvane/libzstd-1.5.4 CACHE PATH
  "libzstd's unpacked source tree for the Windows and fuzz builds (scripts/bootstrap.sh fetches it)")
if(NOT EXISTS ${ORVANE_ZSTD_SOURCE}/lib/zstd.h)
  message(FATAL_ERROR "libzstd's source is not in ${ORVANE_ZSTD_SOURCE}: run scripts/bootstrap.sh, or set "
    "ORVANE_ZSTD_SOURCE to an unpacked libzstd 1.5.4 source tree")
endif()
# Only what compresses and decompresses: no dictionary builder, no legacy formats.
file(GLOB zstd_sources ${ORVANE_ZSTD_SOURCE}/lib/common/*.c ${ORVANE_ZSTD_SOURCE}/lib/compress/*.c
  ${ORVANE_ZSTD_SOURCE}/lib/decompress/*.c)
add_library(orvane_zstd STATIC ${zstd_sources})
target_include_directories(orvane_zstd SYSTEM PUBLIC ${ORVANE_ZSTD_SOURCE}/lib)
# The decoder's x86-64 assembly file is not built (the 64-bit build would otherwise call it); one thread is all a
# difference needs, so no ZSTD_MULTITHREAD.
target_compile_definitions(orvane_zstd PRIVATE ZSTD_DISABLE_ASM)
# Third-party code at its own optimisation, whatever the build type of the project.
target_compile_options(orvane_zstd PRIVATE -O3 -w)
