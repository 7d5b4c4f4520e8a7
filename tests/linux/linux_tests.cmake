# The virtual pendant over FUSE and the Linux bus's tests against it. A test exits with 77 (a
# skip) where FUSE cannot mount.
find_package(Threads REQUIRED)
add_executable(vpendant-fuse tests/linux/virtual_pendant/vpendant_fuse.cpp)
target_compile_options(vpendant-fuse PRIVATE ${PENDANT_WARNINGS})
target_link_libraries(vpendant-fuse PRIVATE PkgConfig::FUSE3 Threads::Threads)

file(GLOB PENDANT_LINUX_TESTS CONFIGURE_DEPENDS tests/linux/*_test.cpp)
foreach(test_source ${PENDANT_LINUX_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  add_executable(${test_name} ${test_source})
  target_compile_options(${test_name} PRIVATE ${PENDANT_WARNINGS})
  target_compile_definitions(${test_name} PRIVATE
    VPENDANT_FUSE="$<TARGET_FILE:vpendant-fuse>")
  target_link_libraries(${test_name} PRIVATE pendant_linux_platform pendant_linuxcnc
    pendant_test_support GTest::gtest)
  add_dependencies(${test_name} vpendant-fuse)
  add_test(NAME linux.${test_name} COMMAND ${test_name})
  set_tests_properties(linux.${test_name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
endforeach()
