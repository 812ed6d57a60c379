# cmake -DOUTPUT=FILE.1 -DVERSION=V (-DSOURCE=PAGE.1 | -DPROGRAM=PATH -DSUMMARY=TEXT)
#       -P ManPage.cmake
# Writes FILE.1.gz: the hand-written PAGE.1 with its version filled in, or a page made from
# the --help text of the program at PATH.
if(SOURCE)
  set(OSTREVAN_VERSION ${VERSION})
  configure_file(${SOURCE} ${OUTPUT} @ONLY)
else()
  execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help failed: ${result}")
  endif()
  get_filename_component(name ${PROGRAM} NAME)
  string(TOUPPER ${name} title)
  # The first line is the synopsis, the first paragraph after it the description.
  string(REGEX MATCH "^Usage: ([^\n]*)\n\n([^\n]+(\n[^\n]+)*)\n\n(.*)$" matched "${help}")
  if(NOT matched)
    message(FATAL_ERROR "${PROGRAM} --help does not start with a usage line and a paragraph")
  endif()
  set(synopsis "${CMAKE_MATCH_1}")
  set(description "${CMAKE_MATCH_2}")
  set(options "${CMAKE_MATCH_4}")
  # Text for troff: backslashes and minus signs escaped, no line starting a request.
  foreach(part synopsis description options)
    string(REPLACE "\\" "\\e" ${part} "${${part}}")
    string(REPLACE "-" "\\-" ${part} "${${part}}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" ${part} "${${part}}")
  endforeach()
  file(WRITE ${OUTPUT}
       ".TH ${title} 1 \"\" \"${name} ${VERSION}\" \"User Commands\"\n"
       ".SH NAME\n${name} \\- ${SUMMARY}\n"
       ".SH SYNOPSIS\n${synopsis}\n"
       ".SH DESCRIPTION\n${description}\n"
       ".SH OPTIONS\n.nf\n${options}.fi\n"
       ".SH SEE ALSO\n.BR ostrevan-update (1)\n")
endif()
file(ARCHIVE_CREATE OUTPUT ${OUTPUT}.gz PATHS ${OUTPUT} FORMAT raw COMPRESSION GZip)
