# The Linux device bus (hidraw) and, where FUSE is there, the virtual pendant that tests it end to
# end. libudev and FUSE are optional: without libudev the bus relies on its rescan alone, without
# FUSE its tests are not built.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(LIBUDEV QUIET IMPORTED_TARGET libudev)
  pkg_check_modules(FUSE3 QUIET IMPORTED_TARGET fuse3)
endif()

add_library(pendant_linux_platform STATIC src/platform/linux/hidraw_bus.cpp
  src/platform/linux/pendant_monitor.cpp)
target_compile_options(pendant_linux_platform PRIVATE ${PENDANT_WARNINGS})
target_link_libraries(pendant_linux_platform PUBLIC pendant_core)
if(LIBUDEV_FOUND)
  target_compile_definitions(pendant_linux_platform PRIVATE PENDANT_HAVE_LIBUDEV)
  target_link_libraries(pendant_linux_platform PRIVATE PkgConfig::LIBUDEV)
endif()

if(FUSE3_FOUND)
  include(${CMAKE_SOURCE_DIR}/tests/linux/linux_tests.cmake)
endif()

# The LinuxCNC component, where LinuxCNC's development files are installed.
find_path(LINUXCNC_INCLUDE_DIR hal.h PATHS /usr/include/linuxcnc NO_DEFAULT_PATH)
find_library(LINUXCNC_HAL_LIBRARY linuxcnchal)
find_library(LINUXCNC_INI_LIBRARY linuxcncini)
if(LINUXCNC_INCLUDE_DIR AND LINUXCNC_HAL_LIBRARY AND LINUXCNC_INI_LIBRARY)
  add_executable(pendant src/platform/linuxcnc/pendant_main.cpp src/platform/linuxcnc/hal_pins.cpp)
  target_compile_options(pendant PRIVATE ${PENDANT_WARNINGS})
  target_compile_definitions(pendant PRIVATE ULAPI)
  # LinuxCNC's headers are not ours to keep warning-free.
  target_include_directories(pendant SYSTEM PRIVATE ${LINUXCNC_INCLUDE_DIR})
  target_link_libraries(pendant PRIVATE pendant_linux_platform pendant_linuxcnc
    ${LINUXCNC_HAL_LIBRARY} ${LINUXCNC_INI_LIBRARY})
endif()

# The component's report-to-pin time, in-process against the virtual pendant (./run bench).
if(TARGET pendant AND TARGET vpendant-fuse)
  add_executable(component_latency_bench tests/linux/component_latency_bench.cpp)
  target_compile_options(component_latency_bench PRIVATE ${PENDANT_WARNINGS})
  target_link_libraries(component_latency_bench PRIVATE pendant_linux_platform
    pendant_linuxcnc pendant_test_support)
  add_dependencies(component_latency_bench vpendant-fuse)
endif()
