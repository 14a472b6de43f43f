# Compiles a file that includes intset/tnumbrelle.h under C++17, which must fail with the header's own message
# as the first error, and under C++20, which must succeed.
#   cmake -DCXX=<compiler> -DINCLUDES=<dir;dir> -DWORK=<scratch folder> -P header_needs_cxx20.cmake
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/uses_header.cpp "#include \"intset/tnumbrelle.h\"\nint main() {}\n")
set(flags -fsyntax-only)
foreach(dir IN LISTS INCLUDES)
  list(APPEND flags -I${dir})
endforeach()
execute_process(COMMAND ${CXX} -std=c++17 ${flags} ${WORK}/uses_header.cpp
                RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
string(REGEX MATCH "error: [^\n]*" first_error "${output}")
if(NOT failed OR NOT first_error MATCHES "intset needs C\\+\\+20")
  message(FATAL_ERROR "Under C++17 the first error is not the header's:\n${output}")
endif()
execute_process(COMMAND ${CXX} -std=c++20 ${flags} ${WORK}/uses_header.cpp
                RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(failed)
  message(FATAL_ERROR "Under C++20 the header does not compile:\n${output}")
endif()
