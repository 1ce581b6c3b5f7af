# The swirl: one frame of the job window's figure at 2x against a memset of its area.
if(TARGET tqapp)
  lumo_bench(bench_swirl SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_swirl.cpp LIBS tqapp)
endif()
