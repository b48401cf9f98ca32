# Figures of the window program: log growth and start-up.
add_executable(bench_app ${CMAKE_CURRENT_LIST_DIR}/bench_app.cpp)
target_link_libraries(bench_app PRIVATE zem_app zem::zem Qt6::Test)

# Start-up yardstick: an empty window that quits as zem_debugger does with
# ZEM_EXIT_AFTER_SHOW=1, so the two can be timed as whole processes.
add_executable(bare_window ${CMAKE_CURRENT_LIST_DIR}/bare_window.cpp)
target_link_libraries(bare_window PRIVATE Qt6::Widgets)

add_custom_target(bench_app_run
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:bench_app>
    DEPENDS bench_app
    USES_TERMINAL
)
add_dependencies(bench bench_app_run)
