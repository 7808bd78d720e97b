# Cross build for 64-bit Windows with Debian's MinGW-w64 (the posix threads
# variant, which std::thread needs): cmake -DCMAKE_TOOLCHAIN_FILE=this-file.
# Tests run under Wine; scripts/build-windows sets up its prefix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(GRAFTWELL_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${GRAFTWELL_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GRAFTWELL_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${GRAFTWELL_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${GRAFTWELL_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libstdc++, libgcc, winpthread and zlib are linked in: the .exe needs no DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(ZLIB_USE_STATIC_LIBS ON)

# Programs the build runs (tests, test discovery) run under Wine, headless and quiet,
# in the prefix given by WINEPREFIX at configure time or else one in the build folder.
find_program(GRAFTWELL_WINE NAMES wine wine64)
if(GRAFTWELL_WINE)
  if(DEFINED ENV{WINEPREFIX})
    set(GRAFTWELL_WINEPREFIX "$ENV{WINEPREFIX}" CACHE PATH "Wine prefix the tests run in")
  else()
    set(GRAFTWELL_WINEPREFIX "${CMAKE_BINARY_DIR}/wine" CACHE PATH "Wine prefix the tests run in")
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${GRAFTWELL_WINEPREFIX} WINEDEBUG=-all LC_ALL=C.UTF-8
      DISPLAY= ${GRAFTWELL_WINE})
endif()
