# Fails when the README or the C++ guide does not show tests/consumer/main.cpp word for word.
file(READ ${SOURCE_TREE}/tests/consumer/main.cpp program)
foreach(page README.md docs/cpp.md)
  file(READ ${SOURCE_TREE}/${page} text)
  string(FIND "${text}" "```cpp\n${program}```" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${page} does not show tests/consumer/main.cpp as its example")
  endif()
endforeach()
