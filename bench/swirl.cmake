# The swirl: one frame of the job window's figure at 2x against a memset of its area; and the job
# window's CPU while its job waits (bench_job_wait.cpp).
if(TARGET tqapp)
  lumo_bench(bench_swirl SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_swirl.cpp ${CMAKE_CURRENT_LIST_DIR}/bench_job_wait.cpp
    LIBS tqapp)
endif()
