# Fails when the C++ guide's example is not tests/consumer/main.cpp word for word.
file(READ ${SOURCE_TREE}/docs/cpp.md guide)
file(READ ${SOURCE_TREE}/tests/consumer/main.cpp program)
string(FIND "${guide}" "```cpp\n${program}```" at)
if(at EQUAL -1)
  message(FATAL_ERROR "docs/cpp.md does not show tests/consumer/main.cpp as its example")
endif()
