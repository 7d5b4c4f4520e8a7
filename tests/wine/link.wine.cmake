# The pendant link under Wine. link_host drives Pendant.dll through its exports: the hid suite with
# the virtual pendant in Wine's HID stack as the device, the product suite with no pendant present,
# the replug suite with the pendant plugged in late and then into another port.
# link_bus_test drives the Win32 device bus directly against the devices the system has (under
# Wine: its virtual HID mouse and keyboard).
pendant_add_wine_program(link_host ${CMAKE_CURRENT_LIST_DIR}/link_host.cpp)
target_link_libraries(link_host PRIVATE vpendant_plug setupapi hid)
add_dependencies(link_host Pendant vpendant)
pendant_add_wine_test(link.hid link_host hid)
pendant_add_wine_test(link.product link_host product)
pendant_add_wine_test(link.replug link_host replug)

pendant_add_wine_program(link_bus_test ${CMAKE_CURRENT_LIST_DIR}/link_bus_test.cpp
  ${CMAKE_SOURCE_DIR}/src/platform/win32/win32_device_bus.cpp
  ${CMAKE_SOURCE_DIR}/src/platform/win32/win32_bus_window.cpp)
target_link_libraries(link_bus_test PRIVATE setupapi hid)
pendant_add_wine_test(link.bus link_bus_test)

# Not a test: `./run bench` runs it (poll time and input latency with the virtual pendant).
pendant_add_wine_program(link_bench ${CMAKE_CURRENT_LIST_DIR}/link_bench.cpp)
target_link_libraries(link_bench PRIVATE vpendant_plug setupapi hid)
add_dependencies(link_bench Pendant vpendant)
