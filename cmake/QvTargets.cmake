# Each component is a static library of every .cpp in its folder, so a new class
# needs a new file pair and nothing else. Every include is written from the repository
# root ("platform/Clock.h", "src/engine/CDownloader.h"), so there is one include root.
function(qv_component_library name dir)
  file(GLOB _srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  # A program's entry point belongs to the program, not to the library beside it.
  list(FILTER _srcs EXCLUDE REGEX "/main\\.cpp$")
  if(NOT _srcs)
    set(_srcs ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(${name} STATIC ${_srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARGN})
endfunction()
