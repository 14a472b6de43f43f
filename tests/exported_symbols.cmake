# Fails when the shared library exports a symbol outside namespace intset (instances of the standard
# library's templates included), or a private member function of tnumbrelle other than the ones public
# inline functions call (next_in_later_words, end_member, member_with_rank, the iterator's constructor and
# settle).
#   cmake -DNM=<nm> -DLIBRARY=<libintset.so> -P exported_symbols.cmake
execute_process(COMMAND ${NM} -D --defined-only --demangle ${LIBRARY} OUTPUT_VARIABLE listing COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" ";" lines "${listing}")
set(ours 0)
set(strays "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"
  if(NOT line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.*)$")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  if(name MATCHES "^intset::tnumbrelle::(locate|compact|include_one_by_one|include_marked|merge_blocks|end_of_keys|include_range_unordered|exclude_range_unordered|merge_from|load_checked|load_current_form|load_legacy_form|prepare_load|make_room|finish_load)\\(")
    list(APPEND strays "${name}")
  elseif(name MATCHES "^((typeinfo|typeinfo name|vtable|VTT|guard variable) for )?intset::")
    math(EXPR ours "${ours} + 1")
  else()
    list(APPEND strays "${name}")
  endif()
endforeach()
if(strays)
  string(REPLACE ";" "\n  " shown "${strays}")
  message(FATAL_ERROR "${LIBRARY} exports symbols outside its public interface:\n  ${shown}")
endif()
if(ours EQUAL 0)
  message(FATAL_ERROR "${LIBRARY} exports nothing of namespace intset")
endif()
message(STATUS "${ours} symbols of namespace intset exported, and nothing else")
