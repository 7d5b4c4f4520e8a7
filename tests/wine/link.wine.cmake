# The pendant link under Wine. link_host drives the plug-in through its exports: the pipe suite
# plays the pendant on a named pipe through PendantPipe.dll, the product suite checks Pendant.dll's
# poll window with no pendant present, the replug suite plays a pendant plugged in after start-up
# and then into another port (another pipe), with the diagnostic trail read as a debug-output
# viewer reads it. link_bus_test drives the Win32 device bus directly against
# the devices the system has (under Wine: its virtual HID mouse and keyboard).
pendant_add_pipe_dll()

pendant_add_wine_program(link_host ${CMAKE_CURRENT_LIST_DIR}/link_host.cpp)
add_dependencies(link_host Pendant PendantPipe)
pendant_add_wine_test(link.pipe link_host pipe)
pendant_add_wine_test(link.product link_host product)
pendant_add_wine_test(link.replug link_host replug)

pendant_add_wine_program(link_bus_test ${CMAKE_CURRENT_LIST_DIR}/link_bus_test.cpp
  ${CMAKE_SOURCE_DIR}/src/platform/win32/win32_device_bus.cpp)
target_link_libraries(link_bus_test PRIVATE setupapi hid)
pendant_add_wine_test(link.bus link_bus_test)
