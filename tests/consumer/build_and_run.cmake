# Configures, builds and runs the consumer project; used by CTest.
#   -DMODE=install|subdirectory  -DBUILD_TREE=<numbrelle build>  -DSOURCE_TREE=<numbrelle sources>
#   -DWORK=<scratch folder>  -DCXX=<compiler>  -DCXX_FLAGS=<flags>  -DSHARED=<BUILD_SHARED_LIBS of the build>
file(REMOVE_RECURSE ${WORK})
# Headers of the numbrelle tree outside the library's interface, which the consumer must not reach.
set(not_public_headers intset/block_ops.h intset/dispatch.h intset/x86/kernels.h app/fnubrel_logic.h tests/set_helpers.h)
string(REPLACE ";" "," probes "${not_public_headers}")
set(args -G Ninja -S ${SOURCE_TREE}/tests/consumer -B ${WORK}/build
    -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_BUILD_TYPE=Release
    -DNOT_PUBLIC_HEADERS=${probes} -DBUILD_SHARED_LIBS=${SHARED})
if(MODE STREQUAL "install")
  # What building against the library needs, and the shared library itself where there is one.
  foreach(component intset_runtime intset)
    execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_TREE} --prefix ${WORK}/prefix --component ${component}
                    COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  list(APPEND args -DCMAKE_PREFIX_PATH=${WORK}/prefix)
else()
  list(APPEND args -DINTSET_SOURCE_DIR=${SOURCE_TREE})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} ${args} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build COMMAND_ERROR_IS_FATAL ANY)
set(expected "odd primes: 3 5 7 11 13\nsubset: 1, count: 5\nodd teens: 2, lowest odd: -9, odds up to 0: 5\nloaded equals saved: 1\n")
function(run_and_check program)
  execute_process(COMMAND ${program} OUTPUT_VARIABLE output COMMAND_ERROR_IS_FATAL ANY)
  if(NOT output STREQUAL expected)
    message(FATAL_ERROR "${program} printed:\n${output}\ninstead of:\n${expected}")
  endif()
endfunction()
run_and_check(${WORK}/build/consumer)
if(SHARED)
  run_and_check(${WORK}/build/consumer_static)
endif()

# Only the public headers are in reach: each internal one must fail to compile for want of the file.
foreach(header IN LISTS not_public_headers)
  string(MAKE_C_IDENTIFIER ${header} name)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build --target reach_${name}
                  RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(REGEX MATCH "${header}('|:) *(No such file|file not found)" missing "${output}")
  if(NOT failed OR NOT missing)
    message(FATAL_ERROR "A consumer could include ${header} (or failed for another reason):\n${output}")
  endif()
endforeach()
if(MODE STREQUAL "install")
  file(GLOB_RECURSE installed_headers RELATIVE ${WORK}/prefix/include ${WORK}/prefix/include/*)
  set(public_headers intset/detail/byte_order.h intset/exceptions.h intset/export.h intset/files.h
                     intset/roaring_format.h intset/tnumbrelle.h)
  if(NOT installed_headers STREQUAL "${public_headers}")
    message(FATAL_ERROR "The install tree holds other headers than the public ones: ${installed_headers}")
  endif()
endif()

if(MODE STREQUAL "install")
  # The pkg-config file must serve a plain compiler call as well.
  find_program(PKG_CONFIG pkg-config REQUIRED)
  file(GLOB pc_dirs ${WORK}/prefix/lib*/pkgconfig ${WORK}/prefix/lib/*/pkgconfig)
  string(REPLACE ";" ":" pc_path "${pc_dirs}")
  set(ENV{PKG_CONFIG_PATH} "${pc_path}")
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs intset OUTPUT_VARIABLE flags
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  # The program chooses its standard (C++20 or later); the library's flags must not choose one for it.
  if(flags MATCHES "(^| )-std=")
    message(FATAL_ERROR "intset.pc sets the language standard: ${flags}")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  separate_arguments(extra UNIX_COMMAND "${CXX_FLAGS}")
  execute_process(COMMAND ${CXX} -std=c++20 ${extra} ${SOURCE_TREE}/tests/consumer/main.cpp ${flags}
                          -o ${WORK}/consumer-pc COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB lib_dirs ${WORK}/prefix/lib*)  # a plain link records no path to a shared library
  string(REPLACE ";" ":" lib_path "${lib_dirs}")
  set(ENV{LD_LIBRARY_PATH} "${lib_path}")
  run_and_check(${WORK}/consumer-pc)
endif()
