# Fails unless README quotes EXAMPLE as it is, in a fenced block of language LANGUAGE: the
# example that the tests build is the one the README shows.
file(READ ${README} readme)
file(READ ${EXAMPLE} example)
string(FIND "${readme}" "```${LANGUAGE}\n${example}```\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${README} does not quote ${EXAMPLE} as it is (a ```${LANGUAGE} block)")
endif()
message(STATUS "${README} quotes ${EXAMPLE}")
