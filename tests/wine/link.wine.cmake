# The pendant link under Wine: the test host program, the named-pipe variant of the plug-in, and
# the two ctest entries (pipe: a played pendant; product: Pendant.dll with no pendant present).
pendant_add_pipe_dll()

add_executable(link_host ${CMAKE_CURRENT_LIST_DIR}/link_host.cpp)
target_include_directories(link_host PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_compile_options(link_host PRIVATE ${PENDANT_WARNINGS})
target_link_libraries(link_host PRIVATE user32)
target_link_options(link_host PRIVATE -static-libgcc -static-libstdc++ -static)
add_dependencies(link_host Pendant PendantPipe)

foreach(suite pipe product)
  add_test(NAME wine_link_${suite}
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/link_run.sh ${CMAKE_BINARY_DIR}/wine-prefix-link
      ${CMAKE_SYSTEM_PROCESSOR} $<TARGET_FILE:link_host> ${suite})
  set_tests_properties(wine_link_${suite} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
endforeach()
