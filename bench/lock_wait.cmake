lumo_bench(bench_lock_wait SOURCES bench_lock_wait.cpp LIBS tqm)
