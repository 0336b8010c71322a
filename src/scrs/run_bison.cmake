# Runs Bison on the SQL grammar and checks its conflict counts.
# Bison's yacc.c skeleton honours %expect but not %expect-rr, so both counts
# are pinned here instead: a grammar change that adds a conflict fails the build.
execute_process(
  COMMAND ${BISON} -Wall -Wno-conflicts-sr -Wno-conflicts-rr --report=none
          --header=${OUT_HPP} -o ${OUT_CPP} ${GRAMMAR}
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "bison failed:\n${err}")
endif()
if(err)
  message(FATAL_ERROR "bison warnings:\n${err}")
endif()
execute_process(
  COMMAND ${BISON} -Wconflicts-sr -Wconflicts-rr -o /dev/null ${GRAMMAR}
  ERROR_VARIABLE counts)
string(REGEX MATCH "([0-9]+) shift/reduce" sr "${counts}")
set(sr "${CMAKE_MATCH_1}")
string(REGEX MATCH "([0-9]+) reduce/reduce" rr "${counts}")
set(rr "${CMAKE_MATCH_1}")
if(NOT "${sr}" STREQUAL "${EXPECT_SR}" OR NOT "${rr}" STREQUAL "${EXPECT_RR}")
  message(FATAL_ERROR "SQL grammar conflicts changed: ${sr} shift/reduce (want ${EXPECT_SR}), "
                      "${rr} reduce/reduce (want ${EXPECT_RR})\n${counts}")
endif()
