# Where the installed files go, and the install rules every program shares.
#
# Our libzem.so lives in a directory of the package's own, never where a
# vendor's library would be installed. The programs find it through a RUNPATH
# relative to their own location, so an installed tree works under any prefix
# and LD_LIBRARY_PATH still puts a vendor's library first.

# The multiarch library directory (lib/x86_64-linux-gnu on Debian), whatever
# the prefix: GNUInstallDirs picks it only for a /usr prefix.
if(CMAKE_LIBRARY_ARCHITECTURE)
    set(_zem_archlibdir lib/${CMAKE_LIBRARY_ARCHITECTURE})
else()
    set(_zem_archlibdir ${CMAKE_INSTALL_LIBDIR})
endif()
set(ZEM_INSTALL_PRIVATELIBDIR ${_zem_archlibdir}/zem-tools
    CACHE STRING "Private directory of our libzem.so, relative to the prefix")
set(ZEM_INSTALL_PKGCONFIGDIR ${_zem_archlibdir}/pkgconfig
    CACHE STRING "Directory of zem-virtual.pc, relative to the prefix")
set(ZEM_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/zem-virtual
    CACHE STRING "Directory of the installed zem.h, relative to the prefix")

file(RELATIVE_PATH _zem_bin_to_lib /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${ZEM_INSTALL_PRIVATELIBDIR})
set(ZEM_PROGRAM_RUNPATH "$ORIGIN/${_zem_bin_to_lib}")

# help2man turns each program's --help and --version into its manual page.
find_program(ZEM_HELP2MAN help2man)
find_program(ZEM_GZIP gzip)
if(NOT ZEM_HELP2MAN OR NOT ZEM_GZIP)
    message(STATUS "help2man or gzip not found: the programs are installed without manual pages")
endif()

# zem_add_manpage(<target> NAME <one-line description> [SECTION <n>])
# Generates <target>.<n>.gz at build time from the program's --help and
# --version, and installs it. The program runs without a display (Qt's
# offscreen platform) and, in a sanitized build, without leak checking: only
# its output matters here.
function(zem_add_manpage target)
    cmake_parse_arguments(ARG "" "NAME;SECTION" "" ${ARGN})
    if(NOT ARG_NAME)
        message(FATAL_ERROR "zem_add_manpage(${target}): NAME is required")
    endif()
    if(NOT ARG_SECTION)
        set(ARG_SECTION 1)
    endif()
    if(NOT ZEM_HELP2MAN OR NOT ZEM_GZIP)
        return()
    endif()
    set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}.${ARG_SECTION})
    add_custom_command(OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
                ${ZEM_HELP2MAN} --no-info --section=${ARG_SECTION} --name=${ARG_NAME}
                --output=${page} $<TARGET_FILE:${target}>
        COMMAND ${ZEM_GZIP} -9nf ${page}
        DEPENDS ${target}
        COMMENT "Generating the manual page of ${target}"
        VERBATIM)
    add_custom_target(${target}_manpage ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${ARG_SECTION})
endfunction()

# zem_add_subcommand_manpages(<target> <subcommand>...)
# One manual page per subcommand, <target>-<subcommand>.1.gz, made at build
# time from "<target> <subcommand> --help-all", with the environment and exit
# statuses of the program's own --help.
find_program(ZEM_AWK awk)
function(zem_add_subcommand_manpages target)
    if(NOT ZEM_HELP2MAN OR NOT ZEM_GZIP OR NOT ZEM_AWK)
        return()
    endif()
    set(pages)
    foreach(sub ${ARGN})
        set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}-${sub}.1)
        add_custom_command(OUTPUT ${page}.gz
            COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
                    ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DSUB=${sub}
                    -DVERSION=${PROJECT_VERSION} -DOUTPUT=${page} -DHELP2MAN=${ZEM_HELP2MAN}
                    -DGZIP=${ZEM_GZIP} -DAWK=${ZEM_AWK}
                    -DSCRIPT=${PROJECT_SOURCE_DIR}/cmake/helpsections.awk
                    -P ${PROJECT_SOURCE_DIR}/cmake/ZemSubcommandPage.cmake
            DEPENDS ${target} ${PROJECT_SOURCE_DIR}/cmake/ZemSubcommandPage.cmake
                    ${PROJECT_SOURCE_DIR}/cmake/helpsections.awk
            COMMENT "Generating the manual page of ${target} ${sub}"
            VERBATIM)
        list(APPEND pages ${page}.gz)
    endforeach()
    add_custom_target(${target}_subcommand_manpages ALL DEPENDS ${pages})
    install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# zem_install_program(<target> NAME <one-line description>)
# Installs a program that links our libzem.so, with its RUNPATH into the
# private directory and its manual page.
function(zem_install_program target)
    cmake_parse_arguments(ARG "" "NAME" "" ${ARGN})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "${ZEM_PROGRAM_RUNPATH}")
    install(TARGETS ${target}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        BUNDLE DESTINATION .)
    zem_add_manpage(${target} NAME "${ARG_NAME}")
endfunction()
