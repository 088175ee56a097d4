# Romsmith's platform-free window rules: linked into the program and built
# natively for the tests.
add_library(romsmith_portable STATIC ${CMAKE_CURRENT_LIST_DIR}/com_name_rule.cpp
  ${CMAKE_CURRENT_LIST_DIR}/com_defaults_rule.cpp ${CMAKE_CURRENT_LIST_DIR}/write_schedule.cpp)
target_include_directories(romsmith_portable PUBLIC ${CMAKE_CURRENT_LIST_DIR})
kit_warnings(romsmith_portable)
