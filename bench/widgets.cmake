# Figures of the value widgets: building every command page's fields and
# showing a float curve.
add_executable(bench_widgets ${CMAKE_CURRENT_LIST_DIR}/bench_widgets.cpp)
# The command table names the library's functions, so something must define them.
target_link_libraries(bench_widgets PRIVATE zem_widgets zem::zem)

add_custom_target(bench_widgets_run
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:bench_widgets>
    DEPENDS bench_widgets
    USES_TERMINAL
)
add_dependencies(bench bench_widgets_run)
