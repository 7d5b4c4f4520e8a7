# Native build: the portable core, the simulation library, the host simulator, tests, benchmarks.
find_package(pugixml REQUIRED)
find_package(GTest REQUIRED)
find_package(benchmark REQUIRED)
enable_testing()
include(GoogleTest)

add_library(pendant_core STATIC ${PENDANT_CORE_SOURCES})
target_include_directories(pendant_core PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/include)
target_compile_options(pendant_core PRIVATE ${PENDANT_WARNINGS})
target_link_libraries(pendant_core PUBLIC pugixml::pugixml)

# One library per host's wing; each program links the core and its own wing only.
add_library(pendant_windows STATIC ${PENDANT_WINDOWS_SOURCES})
target_compile_options(pendant_windows PRIVATE ${PENDANT_WARNINGS})
target_link_libraries(pendant_windows PUBLIC pendant_core)

add_library(pendant_linuxcnc STATIC ${PENDANT_LINUXCNC_SOURCES})
target_compile_options(pendant_linuxcnc PRIVATE ${PENDANT_WARNINGS})
target_link_libraries(pendant_linuxcnc PUBLIC pendant_core)

# The simulation platform without its exports, so tests can link it directly.
file(GLOB PENDANT_SIM_SOURCES CONFIGURE_DEPENDS src/platform/sim/*.cpp)
set(PENDANT_SIM_EXPORT_SOURCES ${PENDANT_SIM_SOURCES})
list(FILTER PENDANT_SIM_SOURCES EXCLUDE REGEX ".*exports.*\\.cpp$")
list(FILTER PENDANT_SIM_EXPORT_SOURCES INCLUDE REGEX ".*exports.*\\.cpp$")
add_library(pendant_sim_platform STATIC ${PENDANT_SIM_SOURCES})
target_compile_options(pendant_sim_platform PRIVATE ${PENDANT_WARNINGS})
target_link_libraries(pendant_sim_platform PUBLIC pendant_windows)

add_library(pendant_sim SHARED src/host_windows/exports.cpp ${PENDANT_SIM_EXPORT_SOURCES})
target_compile_options(pendant_sim PRIVATE ${PENDANT_WARNINGS})
target_link_libraries(pendant_sim PRIVATE pendant_sim_platform pendant_windows ${CMAKE_DL_LIBS})
if(NOT PENDANT_FUZZ)
  # The fuzz build's sanitizer runtime lives in the fuzzer program, not in the library.
  target_link_options(pendant_sim PRIVATE -Wl,--no-undefined)
endif()

# pendant-sim: its session player as a library (the session fuzz target uses it too) and main.
file(GLOB PENDANT_SIM_TOOL_SOURCES CONFIGURE_DEPENDS tools/pendant-sim/*.cpp)
list(FILTER PENDANT_SIM_TOOL_SOURCES EXCLUDE REGEX ".*/main\\.cpp$")
add_library(pendant_sim_tool STATIC ${PENDANT_SIM_TOOL_SOURCES})
target_include_directories(pendant_sim_tool PUBLIC ${CMAKE_SOURCE_DIR}/include
  ${CMAKE_SOURCE_DIR}/tools/pendant-sim)
target_compile_options(pendant_sim_tool PRIVATE ${PENDANT_WARNINGS})
target_link_libraries(pendant_sim_tool PUBLIC ${CMAKE_DL_LIBS})
add_executable(pendant-sim tools/pendant-sim/main.cpp)
target_compile_options(pendant-sim PRIVATE ${PENDANT_WARNINGS})
target_link_libraries(pendant-sim PRIVATE pendant_sim_tool)
add_dependencies(pendant-sim pendant_sim)

# Shared test support: recording host, fake platform and bus.
file(GLOB PENDANT_TEST_SUPPORT CONFIGURE_DEPENDS tests/support/*.cpp)
add_library(pendant_test_support STATIC ${PENDANT_TEST_SUPPORT})
target_include_directories(pendant_test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_compile_options(pendant_test_support PRIVATE ${PENDANT_WARNINGS})
target_link_libraries(pendant_test_support PUBLIC pendant_sim_platform pendant_windows GTest::gtest)

# The fuzz build (clang, libFuzzer) builds the fuzz targets and what they use, nothing else.
if(PENDANT_FUZZ)
  include(${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz.cmake)
  return()
endif()

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  include(${CMAKE_SOURCE_DIR}/cmake/linux.cmake)
endif()

# All unit tests in one executable: linking it once is what the build's time goes to. Each test
# still runs as its own process under ctest.
file(GLOB PENDANT_UNIT_TESTS CONFIGURE_DEPENDS tests/unit/*_test.cpp)
add_executable(unit_tests ${PENDANT_UNIT_TESTS})
target_compile_options(unit_tests PRIVATE ${PENDANT_WARNINGS})
# The unit tests cover both wings.
target_link_libraries(unit_tests PRIVATE pendant_test_support pendant_linuxcnc GTest::gtest_main
  ${CMAKE_DL_LIBS})
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "PENDANT_SIM_LIB=${CMAKE_BINARY_DIR}/libpendant_sim.so")
# Some tests load the simulation library, one runs the host simulator.
add_dependencies(unit_tests pendant_sim pendant-sim)

# Session files through the host simulator, each compared with its expected trace.
if(TARGET pendant-sim)
  file(GLOB PENDANT_SESSIONS CONFIGURE_DEPENDS tests/sessions/*.session examples/*.session)
  foreach(session ${PENDANT_SESSIONS})
    get_filename_component(session_name ${session} NAME_WE)
    get_filename_component(session_dir ${session} DIRECTORY)
    get_filename_component(session_dir_name ${session_dir} NAME)
    add_test(NAME session.${session_dir_name}.${session_name}
      COMMAND pendant-sim --lib $<TARGET_FILE:pendant_sim> --expect ${session_dir}/${session_name}.expected ${session})
  endforeach()
endif()

# The folders' include direction and the code style, checked once (not again under the
# sanitizers). Tidy looks at the sources a branch changed, with this build's compile database.
if(NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
  add_test(NAME check.layers COMMAND bash ${CMAKE_SOURCE_DIR}/tools/check_layers.sh)
  add_test(NAME check.format COMMAND bash ${CMAKE_SOURCE_DIR}/tools/check_style.sh format)
  # tools/setup.sh against stub package tools: a mirror mid-sync, a missing package, a healthy one.
  add_test(NAME check.setup COMMAND bash ${CMAKE_SOURCE_DIR}/tests/setup/setup_test.sh)
  add_test(NAME check.tidy
    COMMAND bash ${CMAKE_SOURCE_DIR}/tools/check_style.sh tidy ${CMAKE_BINARY_DIR})
  set_tests_properties(check.tidy PROPERTIES TIMEOUT 900)
  # The example LinuxCNC mill run headless in a real LinuxCNC: the component reading the virtual
  # pendant where both are built, else the stand-in playing the pendant. One LinuxCNC per machine,
  # so nothing else runs beside it; 77 when LinuxCNC is not installed.
  if(TARGET pendant AND TARGET vpendant-fuse)
    set(PENDANT_MACHINE_TEST_ARGS --component $<TARGET_FILE:pendant> $<TARGET_FILE:vpendant-fuse>)
  else()
    set(PENDANT_MACHINE_TEST_ARGS --standin)
  endif()
  add_test(NAME linuxcnc.machine
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/linuxcnc/machine_test.sh ${PENDANT_MACHINE_TEST_ARGS})
  set_tests_properties(linuxcnc.machine PROPERTIES SKIP_RETURN_CODE 77 RUN_SERIAL TRUE TIMEOUT 180)
  # The component's .deb, built as ./run package builds it; 77 when the component was not built.
  if(TARGET pendant)
    set(PENDANT_DEB_TEST_ARGS $<TARGET_FILE:pendant>)
  else()
    set(PENDANT_DEB_TEST_ARGS "")
  endif()
  add_test(NAME package.deb
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/linuxcnc/deb_test.sh ${PENDANT_DEB_TEST_ARGS})
  set_tests_properties(package.deb PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
endif()

# Benchmarks are built by the test command but not run as tests.
file(GLOB PENDANT_BENCHMARKS CONFIGURE_DEPENDS tests/bench/*_bench.cpp)
foreach(bench_source ${PENDANT_BENCHMARKS})
  get_filename_component(bench_name ${bench_source} NAME_WE)
  add_executable(${bench_name} ${bench_source})
  target_compile_options(${bench_name} PRIVATE ${PENDANT_WARNINGS})
  target_link_libraries(${bench_name} PRIVATE pendant_test_support benchmark::benchmark ${CMAKE_DL_LIBS})
endforeach()

# The plug-in's own instructions per poll, counted by callgrind (tests/bench/poll_cost.sh). The
# test holds the poll to its aims: 600 idle, 1500 turning.
include(CheckIncludeFileCXX)
check_include_file_cxx(valgrind/callgrind.h PENDANT_HAVE_CALLGRIND_H)
if(PENDANT_HAVE_CALLGRIND_H AND NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
  add_executable(poll_cost tests/bench/poll_cost.cpp)
  target_include_directories(poll_cost PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/include)
  target_compile_options(poll_cost PRIVATE ${PENDANT_WARNINGS})
  target_link_libraries(poll_cost PRIVATE ${CMAKE_DL_LIBS})
  add_dependencies(poll_cost pendant_sim)
  # Most instructions a poll may cost (-D to try others).
  if(NOT DEFINED PENDANT_POLL_COST_MAX_IDLE)
    set(PENDANT_POLL_COST_MAX_IDLE 600)
  endif()
  if(NOT DEFINED PENDANT_POLL_COST_MAX_TURNING)
    set(PENDANT_POLL_COST_MAX_TURNING 1500)
  endif()
  add_test(NAME bench.poll_cost
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/bench/poll_cost.sh
      --max-idle ${PENDANT_POLL_COST_MAX_IDLE} --max-turning ${PENDANT_POLL_COST_MAX_TURNING}
      $<TARGET_FILE:poll_cost> $<TARGET_FILE:pendant_sim>)
  # 77: valgrind is not installed.
  set_tests_properties(bench.poll_cost PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
endif()

# The fuzz targets' committed corpora, replayed as ordinary tests.
include(${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz.cmake)
