# Figures of the command pages against the instant test double: the cost of
# one Send, and how periodic repetition keeps its period.
add_executable(bench_pages ${CMAKE_CURRENT_LIST_DIR}/bench_pages.cpp)
target_link_libraries(bench_pages PRIVATE zem_app zem_double Qt6::Test)

add_custom_target(bench_pages_run
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:bench_pages>
    DEPENDS bench_pages
    USES_TERMINAL
)
add_dependencies(bench bench_pages_run)
