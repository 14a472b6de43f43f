# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 compilers, naming the system and the compilers and
# nothing else, as many toolchain files do: CMAKE_SYSTEM_PROCESSOR stays empty. Used by the
# `windows-no-processor` preset, which shows that the library builds and passes its tests without it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
