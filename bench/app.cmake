# The program from start to its first paint on a 2,000-entry demo catalog (bench_app.cpp).
if(TARGET ardune-manager AND TARGET demo_catalog)
  lumo_bench(bench_app SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_app.cpp LIBS demo_catalog tqapp)
  add_dependencies(bench_app ardune-manager)
  target_compile_definitions(bench_app PRIVATE LUMO_APP_PROGRAM="$<TARGET_FILE:ardune-manager>")
endif()
