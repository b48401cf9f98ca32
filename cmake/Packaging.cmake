# The Debian package of the programs and our libzem.so: `cpack -G DEB` in the
# build directory, or scripts/package.sh.
set(CPACK_PACKAGE_NAME zem-tools)
set(CPACK_PACKAGE_VENDOR "ZEM tools maintainers")
set(CPACK_PACKAGE_CONTACT "ZEM tools maintainers <zem-tools@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Desktop tools for the ZEM current-voltage instrument")
set(CPACK_PACKAGE_DESCRIPTION
    "zem_debugger drives the instrument command by command; zem_example runs one \
complete measurement on the console. libzem.so drives a virtual instrument, so \
both run without hardware; a vendor's libzem.so replaces it through \
LD_LIBRARY_PATH.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Build types with debug information would otherwise ship it.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt and C++ runtime packages come from the programs' own links;
# libzem.so, which the package itself brings, is found through the programs'
# RUNPATH and adds no dependency.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

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
endif()
