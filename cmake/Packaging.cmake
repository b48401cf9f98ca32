# The Debian package of the programs and our libzem.so: `cpack -G DEB` in the
# build directory, or scripts/package.sh.
set(CPACK_PACKAGE_NAME zem-tools)
# The Debian revision of the package: the changelog's newest entry must name
# it, together with the project's version.
set(ZEM_DEBIAN_REVISION 1)

if(NOT ZEM_MAINTAINER MATCHES "^[^<>]+ <[^@<> ]+@[^@<> ]+\\.[^@<> ]+>$"
   OR ZEM_MAINTAINER MATCHES "@localhost")
    message(FATAL_ERROR "ZEM_MAINTAINER is '${ZEM_MAINTAINER}': set it to 'Name <address>'")
endif()
string(REGEX REPLACE " <.*" "" ZEM_MAINTAINER_NAME "${ZEM_MAINTAINER}")
set(CPACK_PACKAGE_VENDOR "${ZEM_MAINTAINER_NAME}")
set(CPACK_PACKAGE_CONTACT "${ZEM_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Lines of at most 80 characters; CPack indents them for the control file.
set(CPACK_PACKAGE_DESCRIPTION
    "zem_debugger drives the instrument command by command; zem_bench tests boards
against their signatures, for the technician; zem_example runs one complete
measurement on the console. libzem.so drives a virtual instrument, so
both run without hardware; it lives in a private directory, and a vendor's
libzem.so replaces it through LD_LIBRARY_PATH. zem_gantry_sim is a virtual
GRBL gantry whose tip the virtual instrument follows.
.
zem.h and the pkg-config file zem-virtual.pc let other programs and their test
suites build against the virtual instrument; the Python package zem and its
pytest plugin let Python scripts and tests drive it.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZEM_DEBIAN_REVISION})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Build types with debug information would otherwise ship it.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt and C++ runtime packages come from the programs' own links;
# libzem.so, which the package itself brings, is found through the programs'
# RUNPATH and adds no dependency. As it is in a private directory, it needs no
# ldconfig run either: CPack adds none.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the libraries' links do not say: the SQLite driver of the default
# history (Debian only recommends it), Qt's platform plugins beyond the X one
# in libqt6gui6, and a font, without which a minimal system shows no text.
# The PostgreSQL driver and Wayland are for some stations only. ngspice's
# library is opened at run time for predicted signatures, so no link says it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, qt6-qpa-plugins, fonts-dejavu-core, libngspice0")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6sql6-psql, qt6-wayland")
# The Python package's extension is built for one Python 3 version, and its
# curves are NumPy arrays.
if(ZEM_PYTHON_DEPENDS)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${ZEM_PYTHON_DEPENDS}, python3-numpy")
endif()

# The documentation Debian asks of every package: the copyright file (the
# machine-readable form, its licence text taken from LICENSE) and the
# changelog, compressed the way dpkg expects.
set(_zem_docdir ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _zem_license)
if(NOT _zem_license MATCHES "^MIT License\n\nCopyright \\(c\\) ([^\n]+)\n\n(.*[^\n])\n*$")
    message(FATAL_ERROR "LICENSE is not the MIT licence with one copyright line")
endif()
set(_zem_notice "${CMAKE_MATCH_1}")
# Paragraphs of a licence field are indented, their blank lines written " .".
string(REPLACE "\n\n" "\n.\n" _zem_license "${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " _zem_license " ${_zem_license}")
file(WRITE ${CMAKE_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}
Upstream-Contact: ${ZEM_MAINTAINER}

Files: *
Copyright: ${_zem_notice}
License: MIT

License: MIT
${_zem_license}
")
install(FILES ${CMAKE_BINARY_DIR}/copyright DESTINATION ${_zem_docdir})

set(_zem_changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
file(STRINGS ${_zem_changelog} _zem_newest LIMIT_COUNT 1)
set(_zem_expected "${CPACK_PACKAGE_NAME} (${PROJECT_VERSION}-${ZEM_DEBIAN_REVISION})")
string(FIND "${_zem_newest}" "${_zem_expected} " _zem_at)
if(NOT _zem_at EQUAL 0)
    message(FATAL_ERROR "packaging/changelog starts with '${_zem_newest}': "
                        "add an entry for ${_zem_expected} first")
endif()
if(ZEM_GZIP)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.Debian.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${_zem_changelog} ${CMAKE_BINARY_DIR}/changelog.Debian
        COMMAND ${ZEM_GZIP} -9nf ${CMAKE_BINARY_DIR}/changelog.Debian
        DEPENDS ${_zem_changelog}
        COMMENT "Compressing the Debian changelog"
        VERBATIM)
    add_custom_target(zem_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.Debian.gz)
    install(FILES ${CMAKE_BINARY_DIR}/changelog.Debian.gz DESTINATION ${_zem_docdir})
endif()

include(CPack)

# Builds the .deb from the build tree and checks it (ctest -L package). Off by
# default: it packs whatever was built, which for a sanitizer build is no
# package to check.
option(ZEM_PACKAGE_TEST "Register the tests that build and check the .deb" OFF)
if(ZEM_PACKAGE_TEST)
    set(_zem_package_dir ${CMAKE_BINARY_DIR}/package-test)
    # From an empty directory, so that the check never sees an older .deb.
    add_test(NAME package_build
        COMMAND bash -c [[rm -rf "$1" && "$2" -G DEB -B "$1" --config "$3"]] package_build
                ${_zem_package_dir} ${CMAKE_CPACK_COMMAND} ${CMAKE_BINARY_DIR}/CPackConfig.cmake)
    add_test(NAME package_content
        COMMAND bash ${PROJECT_SOURCE_DIR}/packaging/check_deb.sh ${_zem_package_dir})
    set_tests_properties(package_build PROPERTIES
        LABELS package FIXTURES_SETUP zem_deb)
    set_tests_properties(package_content PROPERTIES
        LABELS package FIXTURES_REQUIRED zem_deb)
    # Installed without recommends into a minimal Debian root and used there;
    # needs root, debootstrap and the mirror, else it is skipped.
    add_test(NAME package_install
        COMMAND bash ${PROJECT_SOURCE_DIR}/packaging/install_check.sh ${_zem_package_dir}
                ${CMAKE_BINARY_DIR}/minimal-root)
    set_tests_properties(package_install PROPERTIES
        LABELS package FIXTURES_REQUIRED zem_deb SKIP_RETURN_CODE 77 TIMEOUT 1500)
endif()
