# The program from start to its first paint on a 2,000-entry demo catalog (bench_app.cpp), headless
# and in a real window; the window start's peer is a program that only loads the catalog.
if(TARGET ardune-manager AND TARGET demo_catalog)
  add_executable(bench_load_peer ${CMAKE_CURRENT_LIST_DIR}/load_peer.cpp)
  target_link_libraries(bench_load_peer PRIVATE tqm)
  pkg_check_modules(BENCH_X11 REQUIRED IMPORTED_TARGET x11)
  lumo_bench(bench_app SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_app.cpp LIBS demo_catalog tqapp_entry PkgConfig::BENCH_X11)
  add_dependencies(bench_app ardune-manager bench_load_peer)
  target_compile_definitions(bench_app PRIVATE LUMO_APP_PROGRAM="$<TARGET_FILE:ardune-manager>"
    LUMO_LOAD_PEER="$<TARGET_FILE:bench_load_peer>")
endif()
