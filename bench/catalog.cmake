lumo_bench(bench_catalog SOURCES bench_catalog.cpp LIBS tqm nlohmann_json::nlohmann_json)
