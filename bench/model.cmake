lumo_bench(bench_model SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_model.cpp ${CMAKE_CURRENT_LIST_DIR}/bench_job.cpp
  LIBS tqapp lumo_support)
