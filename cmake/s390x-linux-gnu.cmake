# Cross-compiling for s390x Linux with Debian's cross compilers (g++-s390x-linux-gnu); the programs are
# linked statically and run under qemu-user (Debian's qemu-user), so that no s390x system is needed.
# Used by the `s390x` preset.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)

# Libraries and packages come from the cross tree only; programs such as qemu from this machine. CLI11, which
# is headers only, is taken from this machine by the preset (CLI11_DIR).
set(CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs carry the C and C++ runtimes, so qemu needs no libraries of the target system.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(NUMBRELLE_QEMU NAMES qemu-s390x qemu-s390x-static)
if(NUMBRELLE_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NUMBRELLE_QEMU})
endif()
