# Tagsmith's GUI flows, alone and together with Romsmith, with the same
# driver and printer simulator.
if(TARGET Tagsmith)
  kit_gui_test(tagsmith_gui_test tagsmith_gui_test.cpp)
  kit_gui_test(tagsmith_romsmith_gui_test tagsmith_romsmith_gui_test.cpp)
  foreach(test tagsmith_gui_test tagsmith_romsmith_gui_test)
    target_compile_definitions(${test} PRIVATE TAGSMITH_EXE="$<TARGET_FILE:Tagsmith>"
      SXSTUB_DLL="$<TARGET_FILE:sxjcp32_stub>")
    add_dependencies(${test} Tagsmith sxjcp32_stub)
  endforeach()
endif()
