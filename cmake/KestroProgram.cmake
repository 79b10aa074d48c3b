# kestro_program(NAME SOURCES...)
# Adds the installed program NAME, built for the fixed configuration
# directory, and, when tests are built, its test build of the same sources
# in KESTRO_TEST_BIN_DIR, built for the relative test directory.
function(kestro_program name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE kestro_common kestro_paths)
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
  if(BUILD_TESTING)
    add_executable(${name}_testbuild ${ARGN})
    target_link_libraries(${name}_testbuild PRIVATE kestro_common kestro_paths_testbuild)
    set_target_properties(${name}_testbuild PROPERTIES
      OUTPUT_NAME ${name}
      RUNTIME_OUTPUT_DIRECTORY ${KESTRO_TEST_BIN_DIR})
  endif()
endfunction()
