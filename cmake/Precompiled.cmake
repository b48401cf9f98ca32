# Precompiled headers for every target built on Qt.
#
# Most of a file's compile time goes into parsing the same Qt and standard
# headers again. Two headers are precompiled once per tree, one with QtCore
# only and one with QtGui and QtWidgets too, and every Qt target reuses the one
# that matches what it links, so GUI-free code still sees no widget it did not
# include. QtTest stays out: its headers test per-target macros
# (QT_TESTCASE_SOURCEDIR), which would make the header unusable for all but one
# folder.
#
# zem_precompile_qt_targets() is called once, after every folder is added.
option(ZEM_PRECOMPILE "Precompile the Qt and standard headers most files include" ON)

set(zem_pch_core
    <algorithm> <chrono> <cmath> <cstdint> <cstring> <functional> <map> <memory> <optional>
    <string> <vector> <nlohmann/json.hpp>
    <QByteArray> <QCoreApplication> <QDateTime> <QDir> <QFile> <QFileInfo> <QHash> <QJsonArray>
    <QJsonDocument> <QJsonObject> <QList> <QObject> <QRegularExpression> <QString> <QStringList>
    <QTimer> <QVariant>)
set(zem_pch_widgets ${zem_pch_core}
    <QAction> <QApplication> <QCheckBox> <QComboBox> <QDockWidget> <QHBoxLayout> <QHeaderView>
    <QLabel> <QLineEdit> <QPainter> <QPushButton> <QSpinBox> <QTabWidget> <QTableView>
    <QVBoxLayout> <QWidget>)

# Whether <target> links <wanted>, directly or through the zem libraries it links.
function(_zem_links target wanted result)
    set(seen "")
    set(todo ${target})
    while(todo)
        list(POP_FRONT todo t)
        if(t IN_LIST seen OR NOT TARGET ${t})
            continue()
        endif()
        list(APPEND seen ${t})
        if(t STREQUAL wanted)
            set(${result} TRUE PARENT_SCOPE)
            return()
        endif()
        get_target_property(type ${t} TYPE)
        set(libs "")
        if(NOT type STREQUAL "INTERFACE_LIBRARY")
            get_target_property(direct ${t} LINK_LIBRARIES)
            if(direct)
                list(APPEND libs ${direct})
            endif()
        endif()
        get_target_property(interface ${t} INTERFACE_LINK_LIBRARIES)
        if(interface)
            list(APPEND libs ${interface})
        endif()
        foreach(lib ${libs})
            # $<LINK_ONLY:x> and other wrappers: the target inside is what counts.
            string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
            if(TARGET ${lib})
                get_target_property(aliased ${lib} ALIASED_TARGET)
                if(aliased)
                    set(lib ${aliased})
                endif()
                list(APPEND todo ${lib})
            endif()
        endforeach()
    endwhile()
    set(${result} FALSE PARENT_SCOPE)
endfunction()

function(_zem_targets_below dir result)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(sub ${subdirs})
        _zem_targets_below(${sub} more)
        list(APPEND targets ${more})
    endforeach()
    set(${result} ${targets} PARENT_SCOPE)
endfunction()

function(zem_precompile_qt_targets)
    if(NOT ZEM_PRECOMPILE)
        return()
    endif()
    # The two headers' own targets: never linked, built only as the headers'
    # owners, with the flags every Qt target gets.
    find_package(nlohmann_json 3 REQUIRED)
    file(WRITE ${CMAKE_BINARY_DIR}/zem_pch.cpp "// owner of the precompiled headers\n")
    add_library(zem_pch_core OBJECT ${CMAKE_BINARY_DIR}/zem_pch.cpp)
    target_link_libraries(zem_pch_core PRIVATE Qt6::Core nlohmann_json::nlohmann_json)
    target_precompile_headers(zem_pch_core PRIVATE ${zem_pch_core})
    add_library(zem_pch_widgets OBJECT ${CMAKE_BINARY_DIR}/zem_pch.cpp)
    target_link_libraries(zem_pch_widgets PRIVATE Qt6::Widgets nlohmann_json::nlohmann_json)
    target_precompile_headers(zem_pch_widgets PRIVATE ${zem_pch_widgets})
    set_target_properties(zem_pch_core zem_pch_widgets PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)

    _zem_targets_below(${PROJECT_SOURCE_DIR} targets)
    foreach(t ${targets})
        get_target_property(type ${t} TYPE)
        if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$"
           OR t MATCHES "^zem_pch_")
            continue()
        endif()
        # An unoptimised test cannot use a header precompiled with -O2.
        get_target_property(unoptimised ${t} ZEM_UNOPTIMISED)
        get_target_property(disabled ${t} DISABLE_PRECOMPILE_HEADERS)
        if(unoptimised OR disabled)
            continue()
        endif()
        get_target_property(sources ${t} SOURCES)
        list(FILTER sources INCLUDE REGEX "\\.(cpp|cc|cxx)$")
        if(NOT sources)
            continue()
        endif()
        _zem_links(${t} Qt6::Widgets widgets)
        if(widgets)
            target_precompile_headers(${t} REUSE_FROM zem_pch_widgets)
            continue()
        endif()
        _zem_links(${t} Qt6::Core core)
        if(core)
            target_precompile_headers(${t} REUSE_FROM zem_pch_core)
        endif()
    endforeach()
endfunction()
