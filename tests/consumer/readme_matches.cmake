# Fails when the README's library example is not tests/consumer/main.cpp word for word.
file(READ ${SOURCE_TREE}/README.md readme)
file(READ ${SOURCE_TREE}/tests/consumer/main.cpp program)
string(FIND "${readme}" "```cpp\n${program}```" at)
if(at EQUAL -1)
  message(FATAL_ERROR "README.md does not show tests/consumer/main.cpp as its library example")
endif()
