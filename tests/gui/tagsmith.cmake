# Tagsmith's GUI flows, with the same driver and printer simulator.
if(TARGET Tagsmith)
  kit_win_test(tagsmith_gui_test tagsmith_gui_test.cpp)
  target_link_libraries(tagsmith_gui_test PRIVATE gui_driver)
  target_compile_definitions(tagsmith_gui_test PRIVATE TAGSMITH_EXE="$<TARGET_FILE:Tagsmith>"
    LANQUAY_DLL="$<TARGET_FILE:lanquay>" SXSTUB_DLL="$<TARGET_FILE:sxjcp32_stub>")
  add_dependencies(tagsmith_gui_test Tagsmith lanquay sxjcp32_stub)
  kit_needs_simulator(tagsmith_gui_test)
endif()
