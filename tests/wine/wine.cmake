# Checks of the Windows build: the product DLL's PE tables (i686), and test hosts that drive the
# real DLL under Wine. The 64-bit build runs them where 32-bit programs cannot run; the i686 build
# runs them too when 32-bit Wine works on this machine.
enable_testing()
set(PENDANT_WINE_RUNNER ${CMAKE_SOURCE_DIR}/tests/wine/run_wine_tests.sh)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  find_program(PENDANT_OBJDUMP NAMES i686-w64-mingw32-objdump REQUIRED)
  file(STRINGS ${CMAKE_SOURCE_DIR}/src/host_windows/version.h version_line REGEX "PENDANT_VERSION_TEXT \"")
  string(REGEX MATCH "\"([0-9.]+)\"" version_match "${version_line}")
  add_test(NAME pe.Pendant
    COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/check_pe.sh ${PENDANT_OBJDUMP} $<TARGET_FILE:Pendant>
      ${CMAKE_RC_COMPILER} ${CMAKE_MATCH_1})
  execute_process(COMMAND ${PENDANT_WINE_RUNNER} --probe-win32 RESULT_VARIABLE win32_probe
    OUTPUT_QUIET ERROR_QUIET)
  if(win32_probe EQUAL 0)
    set(PENDANT_WINE_ARCH win32)
  else()
    set(PENDANT_WINE_ARCH "")
    message(STATUS "32-bit Wine cannot run here: Wine tests only in the 64-bit build")
  endif()
else()
  set(PENDANT_WINE_ARCH win64)
endif()

# A Win32 test program: built in every Windows configuration, statically linked so Wine needs no
# MinGW runtime DLL.
function(pendant_add_wine_program target)
  add_executable(${target} ${ARGN})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_compile_options(${target} PRIVATE ${PENDANT_WARNINGS})
  target_link_libraries(${target} PRIVATE user32 gdi32 ole32 uuid)
  target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++ -static)
endfunction()

include(${CMAKE_SOURCE_DIR}/tests/wine/virtual_pendant/virtual_pendant.cmake)

# Registers `program` (a target) with its arguments as the ctest test wine.<name>. All Wine tests
# share one prefix and one persistent server, started by wine.start and ended by wine.stop, which
# ctest adds around any selection of them; they run one at a time.
if(PENDANT_WINE_ARCH)
  set(PENDANT_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix-${PENDANT_WINE_ARCH})
  # The server starts with the virtual pendant's driver in place and no virtual pendant plugged.
  add_test(NAME wine.start COMMAND ${PENDANT_WINE_RUNNER} --arch ${PENDANT_WINE_ARCH}
    --prefix ${PENDANT_WINE_PREFIX} --driver ${VPENDANT_SYS} --unplug $<TARGET_FILE:vpendant>
    --start)
  add_test(NAME wine.stop COMMAND ${PENDANT_WINE_RUNNER} --arch ${PENDANT_WINE_ARCH}
    --prefix ${PENDANT_WINE_PREFIX} --stop)
  set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine_server RESOURCE_LOCK wine_prefix
    SKIP_RETURN_CODE 77 TIMEOUT 300)
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine_server RESOURCE_LOCK wine_prefix)
endif()

function(pendant_add_wine_test name program)
  if(NOT PENDANT_WINE_ARCH)
    return()
  endif()
  add_test(NAME wine.${name}
    COMMAND ${PENDANT_WINE_RUNNER} --arch ${PENDANT_WINE_ARCH} --prefix ${PENDANT_WINE_PREFIX}
      --timeout 120 --keep-server $<TARGET_FILE:${program}> ${ARGN})
  set_tests_properties(wine.${name} PROPERTIES RESOURCE_LOCK wine_prefix SKIP_RETURN_CODE 77
    TIMEOUT 300 FIXTURES_REQUIRED wine_server)
endfunction()

pendant_add_wine_program(boundary_host ${CMAKE_SOURCE_DIR}/tests/wine/boundary_host.cpp)
add_dependencies(boundary_host Pendant)
pendant_add_wine_test(boundary boundary_host $<TARGET_FILE:Pendant>)

pendant_add_wine_program(host_string_host ${CMAKE_SOURCE_DIR}/tests/wine/host_string_host.cpp
  ${CMAKE_SOURCE_DIR}/src/platform/win32/host_string.cpp)
pendant_add_wine_test(host_string host_string_host)

file(GLOB PENDANT_WINE_PARTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*.wine.cmake)
foreach(part ${PENDANT_WINE_PARTS})
  include(${part})
endforeach()
