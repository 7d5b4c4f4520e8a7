# Fuzz targets: each tests/fuzz/<name>_fuzz.cpp defines LLVMFuzzerTestOneInput and asserts its
# invariants itself (abort on a broken one). Seeds and past findings live in
# tests/fuzz/corpus/<name>/.
#
# With PENDANT_FUZZ (the `fuzz` preset, clang) each becomes a libFuzzer program fuzz_<name>, run by
# `./run fuzz`. Otherwise each becomes fuzz_<name>_replay, which the ordinary test run uses to
# replay the committed corpus (under the sanitizers in the `sanitize` build).
file(GLOB PENDANT_FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
foreach(fuzz_source ${PENDANT_FUZZ_TARGETS})
  get_filename_component(fuzz_file ${fuzz_source} NAME_WE)
  string(REGEX REPLACE "_fuzz$" "" fuzz_name ${fuzz_file})
  set(fuzz_corpus ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${fuzz_name})
  if(PENDANT_FUZZ)
    set(fuzz_target fuzz_${fuzz_name})
    add_executable(${fuzz_target} ${fuzz_source})
    target_link_options(${fuzz_target} PRIVATE -fsanitize=fuzzer)
  else()
    set(fuzz_target fuzz_${fuzz_name}_replay)
    add_executable(${fuzz_target} ${fuzz_source} ${CMAKE_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
    add_test(NAME fuzz.replay.${fuzz_name} COMMAND ${fuzz_target} ${fuzz_corpus})
    set_tests_properties(fuzz.replay.${fuzz_name} PROPERTIES
      ENVIRONMENT "PENDANT_SIM_LIB=${CMAKE_BINARY_DIR}/libpendant_sim.so")
  endif()
  target_compile_options(${fuzz_target} PRIVATE ${PENDANT_WARNINGS})
  target_link_libraries(${fuzz_target} PRIVATE pendant_test_support pendant_sim_tool
    ${CMAKE_DL_LIBS})
  # A target that loads the simulation library waits for it to link.
  add_dependencies(${fuzz_target} pendant_sim)
endforeach()
