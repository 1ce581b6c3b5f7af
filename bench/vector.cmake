# Path fill and stroke against two peer rasterizers fed the same edges on canvases of the same size.
pkg_check_modules(AGG IMPORTED_TARGET libagg)
pkg_check_modules(CAIRO IMPORTED_TARGET cairo)
if(TARGET lumo_draw AND AGG_FOUND AND CAIRO_FOUND)
  lumo_bench(bench_vector SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_vector.cpp
    LIBS lumo_draw PkgConfig::AGG PkgConfig::CAIRO)
else()
  message(STATUS "bench_vector skipped: needs libagg-dev and libcairo2-dev")
endif()
