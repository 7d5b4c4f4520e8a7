# The configuration dialog under Wine: the test host drives Config on Pendant.dll.
add_executable(dialog_host ${CMAKE_CURRENT_LIST_DIR}/dialog_host.cpp)
target_include_directories(dialog_host PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_compile_options(dialog_host PRIVATE ${PENDANT_WARNINGS})
target_link_libraries(dialog_host PRIVATE user32 gdi32)
target_link_options(dialog_host PRIVATE -static-libgcc -static-libstdc++ -static)
add_dependencies(dialog_host Pendant)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(PENDANT_DIALOG_WINE_ARCH win64)
else()
  set(PENDANT_DIALOG_WINE_ARCH win32)
endif()
add_test(NAME wine_dialog
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_wine_tests.sh --arch ${PENDANT_DIALOG_WINE_ARCH}
    --prefix ${CMAKE_BINARY_DIR}/wine-prefix-dialog-${PENDANT_DIALOG_WINE_ARCH} --timeout 90
    $<TARGET_FILE:dialog_host>)
set_tests_properties(wine_dialog PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 180)
