# Writes a man page from a program's --help and --version with help2man.
# For `tune`, each command's --help becomes a part of the COMMANDS section.
# Inputs: HELP2MAN, PROGRAM (the built program), NAME (its one-line
# description), COMMANDS (a list; may be empty), OUTPUT.
get_filename_component(program_name ${PROGRAM} NAME)
set(include_file ${OUTPUT}.include)
set(text "")
if(COMMANDS)
  string(APPEND text "[COMMANDS]\n")
  foreach(command ${COMMANDS})
    execute_process(COMMAND ${PROGRAM} ${command} --help OUTPUT_VARIABLE help
      RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${program_name} ${command} --help failed")
    endif()
    # Plain text in roff: backslashes escaped, no line taken for a request.
    string(REPLACE "\\" "\\e" help "${help}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
    string(APPEND text ".SS \"${program_name} ${command}\"\n.nf\n${help}.fi\n")
  endforeach()
endif()
file(WRITE ${include_file} "${text}")
set(include_option "")
if(text)
  set(include_option --include=${include_file})
endif()
execute_process(COMMAND ${HELP2MAN} --no-info --no-discard-stderr --name=${NAME}
    ${include_option} --output=${OUTPUT} ${PROGRAM}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${program_name}")
endif()
