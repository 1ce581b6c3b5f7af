lumo_bench(bench_view SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_view.cpp LIBS tqapp)
