# Makes the manual page of one subcommand, PROGRAM-SUB, with help2man from
# "PROGRAM SUB --help-all": its one-line description is the first line of the
# subcommand's help, and the program's environment and exit statuses come
# from the program's own --help.
# cmake -DPROGRAM= -DSUB= -DVERSION= -DOUTPUT= -DHELP2MAN= -DGZIP= -DAWK= -DSCRIPT= -P
get_filename_component(name ${PROGRAM} NAME)
set(sections ${OUTPUT}.h2m)
execute_process(COMMAND ${PROGRAM} --help COMMAND ${AWK} -f ${SCRIPT}
    OUTPUT_FILE ${sections} RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "${name} --help: ${rc}")
endif()
execute_process(COMMAND ${PROGRAM} ${SUB} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
string(REGEX MATCH "^[^\n]*" description "${help}")
if(rc OR NOT description)
    message(FATAL_ERROR "${name} ${SUB} --help: ${rc}")
endif()
execute_process(COMMAND ${HELP2MAN} --no-info --section=1 "--name=${description}"
        "--version-string=${name}-${SUB} ${VERSION}" "--help-option=${SUB} --help-all"
        "--include=${sections}" "--output=${OUTPUT}" ${PROGRAM}
    RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "help2man ${name} ${SUB}: ${rc}")
endif()
execute_process(COMMAND ${GZIP} -9nf ${OUTPUT} RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "gzip ${OUTPUT}: ${rc}")
endif()
