# Pendant.dll from the portable core, the export boundary and this folder. The dialog's resource
# script and sources join through the globs.
file(GLOB PENDANT_WIN32_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/*.cpp ${CMAKE_CURRENT_LIST_DIR}/*.rc)
set(PENDANT_WIN32_DEF ${CMAKE_CURRENT_LIST_DIR}/pendant.def)
set(PENDANT_WIN32_SYSTEM_LIBS setupapi hid ws2_32 user32 gdi32 comctl32 ole32 oleaut32 uuid)

# Builds one variant of the plug-in DLL. `target` names the CMake target and the file; further
# arguments are compile definitions.
function(pendant_add_plugin_dll target)
  add_library(${target} SHARED ${CMAKE_SOURCE_DIR}/src/host_windows/exports.cpp ${PENDANT_WIN32_SOURCES}
    ${PENDANT_WIN32_DEF})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${target} PREFIX "")
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${PENDANT_WARNINGS}>
    $<$<COMPILE_LANGUAGE:CXX>:${PENDANT_WIN32_SINGLE_THREAD}>)
  target_compile_definitions(${target} PRIVATE ${ARGN})
  target_link_libraries(${target} PRIVATE pendant_windows pendant_core pugixml_static ${PENDANT_WIN32_SYSTEM_LIBS})
  # No MinGW runtime DLL next to the host; the .def names the undecorated registration exports,
  # which the fix-up maps onto their stdcall symbols on i686.
  target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++ -static
    -Wl,--enable-stdcall-fixup $<$<CONFIG:Release,MinSizeRel>:-s>)
endfunction()

pendant_add_plugin_dll(Pendant)

enable_testing()
