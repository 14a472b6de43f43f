# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 compilers (g++-mingw-w64-x86-64-posix), whose
# programs then run under Wine (Debian's wine64). Used by the `windows` preset.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Libraries and packages come from the MinGW-w64 tree only; programs such as Wine from this machine.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs carry the compiler's runtime (libstdc++, libgcc, winpthread) instead of needing its DLLs. With the
# library as a DLL they share the runtime's DLLs with it instead: two copies of the C++ runtime would each have
# their own error categories, and so on (the top-level CMakeLists.txt puts those DLLs beside the programs).
if(NOT BUILD_SHARED_LIBS)
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
endif()

# Test programs (and GoogleTest's test discovery) run under Wine through run-under-wine.sh, in a Wine
# prefix of their own inside the build tree.
find_program(NUMBRELLE_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(NUMBRELLE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /bin/bash ${CMAKE_CURRENT_LIST_DIR}/run-under-wine.sh ${CMAKE_BINARY_DIR}/wineprefix ${NUMBRELLE_WINE})
endif()
