# The server executable: build/server. Links every subsystem library that
# exists, highest first so that static link order resolves.
add_executable(server ${CMAKE_SOURCE_DIR}/core/main.cpp)
gw_subsystem_libraries(server_libs)
target_link_libraries(server PRIVATE ${server_libs})
set_target_properties(server PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
