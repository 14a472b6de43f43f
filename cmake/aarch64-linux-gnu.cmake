# Cross-compiling for aarch64 Linux with Debian's cross compilers (g++-aarch64-linux-gnu); the programs are
# linked statically and run under qemu-user (Debian's qemu-user), so that no aarch64 system is needed.
# Used by the `aarch64` preset.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries and packages come from the cross tree only; programs such as qemu from this machine. CLI11, which
# is headers only, is taken from this machine by the preset (CLI11_DIR).
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs carry the C and C++ runtimes, so qemu needs no libraries of the target system.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(NUMBRELLE_QEMU NAMES qemu-aarch64 qemu-aarch64-static)
if(NUMBRELLE_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NUMBRELLE_QEMU})
endif()
