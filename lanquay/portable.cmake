# lanquay's platform-free packet code: linked into the library and built
# natively for the tests and fuzz targets.
add_library(lanquay_portable STATIC ${CMAKE_CURRENT_LIST_DIR}/search_packets.cpp ${CMAKE_CURRENT_LIST_DIR}/lq_limits.cpp)
target_include_directories(lanquay_portable PUBLIC ${CMAKE_CURRENT_LIST_DIR})
kit_warnings(lanquay_portable)
