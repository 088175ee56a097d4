# Tagsmith's GUI flows, alone and together with Romsmith, with the same
# driver and printer simulator.
if(TARGET Tagsmith)
  kit_gui_test(tagsmith_gui_test tagsmith_gui_test.cpp)
  kit_test_seconds(tagsmith_gui_test 85)
  kit_gui_test(tagsmith_romsmith_gui_test tagsmith_romsmith_gui_test.cpp)
  foreach(test tagsmith_gui_test tagsmith_romsmith_gui_test)
    target_compile_definitions(${test} PRIVATE TAGSMITH_EXE="$<TARGET_FILE:Tagsmith>"
      SXSTUB_DLL="$<TARGET_FILE:sxjcp32_stub>")
    add_dependencies(${test} Tagsmith sxjcp32_stub)
  endforeach()
endif()

# The fault matrix through both programs (tools/fault_matrix.cpp): the test
# run takes its quick subset; scripts/fault-matrix.sh runs it whole.
if(TARGET Tagsmith)
  add_executable(fault_matrix ${PROJECT_SOURCE_DIR}/tools/fault_matrix.cpp)
  target_link_libraries(fault_matrix PRIVATE romsmith_session)
  target_link_options(fault_matrix PRIVATE -municode)
  target_compile_definitions(fault_matrix PRIVATE TAGSMITH_EXE="$<TARGET_FILE:Tagsmith>")
  set_target_properties(fault_matrix PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
  add_dependencies(fault_matrix Romsmith Tagsmith lanquay fake_spooler)
  kit_warnings(fault_matrix)
  add_test(NAME fault_matrix_quick COMMAND fault_matrix --quick ${CMAKE_BINARY_DIR}/fault-matrix-quick.md)
  set_tests_properties(fault_matrix_quick PROPERTIES TIMEOUT 600)
  kit_needs_simulator(fault_matrix_quick)
  kit_test_seconds(fault_matrix_quick 105)
endif()
