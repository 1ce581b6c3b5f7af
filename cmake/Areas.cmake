# lumo_area(<target> SOURCES ... [LIBS ...]): one static library per area of the tree.
# An area with no sources yet makes no target.
function(lumo_area target)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT A_SOURCES)
    return()
  endif()
  add_library(${target} STATIC ${A_SOURCES})
  target_link_libraries(${target} PUBLIC ${A_LIBS})
endfunction()
