# Drawing: canvas fills and bitmap copies against memset / memcpy of the same bytes.
if(TARGET lumo_draw)
  lumo_bench(bench_draw SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_draw.cpp LIBS lumo_draw)
endif()
