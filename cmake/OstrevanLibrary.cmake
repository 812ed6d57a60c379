# ostrevan_library(NAME DEPS...): a static library from every .cpp of the calling
# folder (an interface library while the folder holds headers only), with the project's
# warnings for itself and for whatever links it.
function(ostrevan_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARGN} ostrevan_warnings Threads::Threads)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN} ostrevan_warnings Threads::Threads)
  endif()
endfunction()
