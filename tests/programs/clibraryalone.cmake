# Fails if any of PROGRAMS (a list) needs a shared library other than the
# C library: libc, its maths (libm, where a compiler calls ceil rather
# than inlining it) and its dynamic loader (arm64's holds the stack
# protector's guard). A C++ runtime loaded at every start costs a short
# run more than its work.
foreach(program IN LISTS PROGRAMS)
  execute_process(COMMAND ${READELF} -d ${program} OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot read the dynamic section of ${program}")
  endif()
  string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*" needed "${dynamic}")
  foreach(entry IN LISTS needed)
    string(REGEX REPLACE ".*\\[(.*)\\].*" "\\1" library "${entry}")
    if(NOT library MATCHES "^(lib[cm]\\.so|ld-linux|ld64\\.so)")
      message(FATAL_ERROR "${program} needs ${library}, beside the C library")
    endif()
  endforeach()
  message(STATUS "${program}: ${needed}")
endforeach()
