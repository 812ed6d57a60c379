# ostrevan_own_warnings(DIR): gives OSTREVAN_WARNINGS to every compiled target defined in DIR
# and in its subfolders that lie inside the project. Called once every target exists, so a
# new program in any folder gets them too; GoogleTest's folder lies outside and gets none.
function(ostrevan_own_warnings dir)
  get_directory_property(targets DIRECTORY ${dir} BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      # For the compilers only: the Windows resource compiler takes no warning options.
      target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:C,CXX>:${OSTREVAN_WARNINGS}>")
    endif()
  endforeach()
  get_directory_property(subdirs DIRECTORY ${dir} SUBDIRECTORIES)
  foreach(subdir ${subdirs})
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${subdir}" NORMALIZE ours)
    if(ours)
      ostrevan_own_warnings(${subdir})
    endif()
  endforeach()
endfunction()
