# A hostile host for the plug-in's life: exit or unload without StopPlug, StopPlug from inside a
# callback, no parent window, repeated loading. One process per case, so each must end normally;
# the virtual pendant is the device.
pendant_add_wine_program(lifecycle_host ${CMAKE_CURRENT_LIST_DIR}/lifecycle_host.cpp)
target_link_libraries(lifecycle_host PRIVATE vpendant_plug setupapi hid)
add_dependencies(lifecycle_host Pendant vpendant)
foreach(lifecycle_case exit-open exit-product free-open stop-in-button stop-in-code no-parent
    reload)
  pendant_add_wine_test(lifecycle.${lifecycle_case} lifecycle_host ${lifecycle_case})
endforeach()
