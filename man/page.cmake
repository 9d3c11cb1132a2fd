# Builds one man page: the scdoc template with its @NAME@ fields filled in
# (the option list @OPTIONS@ from `PROGRAM --help-man`, so the page lists what
# the program's own option table parses), then scdoc to roff.
#   cmake -D TEMPLATE=... -D OUTPUT=... -D SCDOC=... [-D PROGRAM=...] [-D VERSION=... -D TOOL=...] -P page.cmake
set(OPTIONS "")
if(PROGRAM)
  execute_process(COMMAND ${PROGRAM} --help-man OUTPUT_VARIABLE OPTIONS RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help-man failed: ${status}")
  endif()
endif()
file(READ ${TEMPLATE} text)
string(CONFIGURE "${text}" text @ONLY)
file(WRITE ${OUTPUT}.scd "${text}")
execute_process(COMMAND ${SCDOC} INPUT_FILE ${OUTPUT}.scd OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "scdoc failed on ${OUTPUT}.scd")
endif()
