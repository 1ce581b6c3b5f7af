lumo_bench(bench_view_paint SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_view_paint.cpp LIBS tqapp lumo_support)
