# kestro_program(NAME SOURCES...)
# Adds the installed program NAME, built for the fixed configuration
# directory, and, when tests are built, its test build in
# KESTRO_TEST_BIN_DIR, built for the relative test directory. The program's
# sources are compiled once, into NAME_objects, which both link; they differ
# only in the variant of the common library, which brings the paths.
function(kestro_program name)
  add_library(${name}_objects OBJECT ${ARGN})
  target_link_libraries(${name}_objects PRIVATE kestro_common_objects)
  target_compile_options(${name}_objects PRIVATE ${KESTRO_PROGRAM_COMPILE_OPTIONS})

  add_executable(${name} $<TARGET_OBJECTS:${name}_objects>)
  target_link_libraries(${name} PRIVATE kestro_common)
  target_link_options(${name} PRIVATE ${KESTRO_PROGRAM_LINK_OPTIONS})
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})

  if(BUILD_TESTING)
    add_executable(${name}_testbuild $<TARGET_OBJECTS:${name}_objects>)
    target_link_libraries(${name}_testbuild PRIVATE kestro_common_testbuild)
    target_link_options(${name}_testbuild PRIVATE ${KESTRO_PROGRAM_LINK_OPTIONS})
    set_target_properties(${name}_testbuild PROPERTIES
      OUTPUT_NAME ${name}
      RUNTIME_OUTPUT_DIRECTORY ${KESTRO_TEST_BIN_DIR})
  endif()
endfunction()
