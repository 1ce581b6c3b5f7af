lumo_bench(bench_rows SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_rows.cpp LIBS tqm)
