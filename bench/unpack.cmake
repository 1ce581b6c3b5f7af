lumo_bench(bench_unpack SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_unpack.cpp LIBS tqm lumo_support)
