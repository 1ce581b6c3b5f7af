lumo_bench(bench_skin_paint SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_skin_paint.cpp LIBS tqapp)
