# Configures, builds and runs the consumer project; used by CTest.
#   -DMODE=install|subdirectory  -DBUILD_TREE=<numbrelle build>  -DSOURCE_TREE=<numbrelle sources>
#   -DWORK=<scratch folder>  -DCXX=<compiler>  -DCXX_FLAGS=<flags>
file(REMOVE_RECURSE ${WORK})
set(args -G Ninja -S ${SOURCE_TREE}/tests/consumer -B ${WORK}/build
    -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_BUILD_TYPE=Release)
if(MODE STREQUAL "install")
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_TREE} --prefix ${WORK}/prefix --component intset
                  COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND args -DCMAKE_PREFIX_PATH=${WORK}/prefix)
else()
  list(APPEND args -DINTSET_SOURCE_DIR=${SOURCE_TREE})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} ${args} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build COMMAND_ERROR_IS_FATAL ANY)
set(expected "odd primes: 3 5 7 11 13\nsubset: 1, count: 5\nloaded equals saved: 1\n")
function(run_and_check program)
  execute_process(COMMAND ${program} OUTPUT_VARIABLE output COMMAND_ERROR_IS_FATAL ANY)
  if(NOT output STREQUAL expected)
    message(FATAL_ERROR "${program} printed:\n${output}\ninstead of:\n${expected}")
  endif()
endfunction()
run_and_check(${WORK}/build/consumer)

if(MODE STREQUAL "install")
  # The pkg-config file must serve a plain compiler call as well.
  find_program(PKG_CONFIG pkg-config REQUIRED)
  file(GLOB pc_dirs ${WORK}/prefix/lib*/pkgconfig ${WORK}/prefix/lib/*/pkgconfig)
  string(REPLACE ";" ":" pc_path "${pc_dirs}")
  set(ENV{PKG_CONFIG_PATH} "${pc_path}")
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs intset OUTPUT_VARIABLE flags
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  separate_arguments(extra UNIX_COMMAND "${CXX_FLAGS}")
  execute_process(COMMAND ${CXX} ${extra} ${SOURCE_TREE}/tests/consumer/main.cpp ${flags} -o ${WORK}/consumer-pc
                  COMMAND_ERROR_IS_FATAL ANY)
  run_and_check(${WORK}/consumer-pc)
endif()
