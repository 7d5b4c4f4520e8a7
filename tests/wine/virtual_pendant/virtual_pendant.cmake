# The virtual pendant: a HID minidriver (vpendant.sys) for Wine's HID stack, its INF, and the tool
# that plugs it in and out and feeds it (vpendant.exe). Built in both Windows configurations; the
# driver's architecture has to match the Wine prefix it is put into.
set(VPENDANT_DIR ${CMAKE_CURRENT_LIST_DIR})
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(VPENDANT_ENTRY _DriverEntry@8)
else()
  set(VPENDANT_ENTRY DriverEntry)
endif()
get_filename_component(VPENDANT_TOOLCHAIN_ROOT ${CMAKE_FIND_ROOT_PATH} ABSOLUTE)
set(VPENDANT_SYS ${CMAKE_BINARY_DIR}/vpendant.sys)
# A native-subsystem image that imports only the kernel, hal and hidclass: linked like a DLL,
# Wine's loader would call its entry point as a DLL's.
add_custom_command(OUTPUT ${VPENDANT_SYS}
  COMMAND ${CMAKE_C_COMPILER} -I${VPENDANT_TOOLCHAIN_ROOT}/include/ddk -Wall -Wextra -Werror -O2
    -ffreestanding -fno-builtin -fno-stack-protector -shared -nostdlib -nostartfiles
    -Wl,--subsystem,native -Wl,--entry,${VPENDANT_ENTRY} -Wl,--file-alignment,0x1000
    -Wl,--section-alignment,0x1000 -Wl,--image-base,0x10000 -s
    -o ${VPENDANT_SYS} ${VPENDANT_DIR}/vpendant.c -lhidclass -lntoskrnl -lhal -lgcc
  DEPENDS ${VPENDANT_DIR}/vpendant.c ${VPENDANT_DIR}/control.h
  COMMENT "vpendant.sys"
  VERBATIM)
configure_file(${VPENDANT_DIR}/vpendant.inf ${CMAKE_BINARY_DIR}/vpendant.inf COPYONLY)
add_custom_target(vpendant_sys ALL DEPENDS ${VPENDANT_SYS})

add_library(vpendant_plug STATIC ${VPENDANT_DIR}/plug.cpp)
target_include_directories(vpendant_plug PUBLIC ${VPENDANT_DIR})
target_compile_options(vpendant_plug PRIVATE ${PENDANT_WARNINGS})
target_link_libraries(vpendant_plug PUBLIC setupapi newdev)

add_executable(vpendant ${VPENDANT_DIR}/vpendant_tool.cpp)
target_compile_options(vpendant PRIVATE ${PENDANT_WARNINGS})
target_link_libraries(vpendant PRIVATE vpendant_plug)
target_link_options(vpendant PRIVATE -static-libgcc -static-libstdc++ -static)
add_dependencies(vpendant vpendant_sys)
