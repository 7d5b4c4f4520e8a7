# Windows build: Pendant.dll (i686 is the product; x86_64 serves the Wine tests where 32-bit
# programs cannot run), the Wine test host and its test variant of the DLL.
set(PUGIXML_SOURCE_DIR ${CMAKE_SOURCE_DIR}/third_party/pugixml/src)
if(NOT EXISTS ${PUGIXML_SOURCE_DIR}/pugixml.cpp)
  message(FATAL_ERROR "pugixml source missing: run tools/setup.sh")
endif()
# The plug-in runs on the host's one user-interface thread. Guarding function-local statics
# against other threads would make the C++ runtime create a lock (a semaphore) that it never
# releases, one more with every load of the DLL.
set(PENDANT_WIN32_SINGLE_THREAD -fno-threadsafe-statics)

add_library(pugixml_static STATIC ${PUGIXML_SOURCE_DIR}/pugixml.cpp)
target_include_directories(pugixml_static SYSTEM PUBLIC ${PUGIXML_SOURCE_DIR})
target_compile_options(pugixml_static PRIVATE ${PENDANT_WIN32_SINGLE_THREAD})

add_library(pendant_core STATIC ${PENDANT_CORE_SOURCES})
target_include_directories(pendant_core PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/include)
target_compile_options(pendant_core PRIVATE ${PENDANT_WARNINGS} ${PENDANT_WIN32_SINGLE_THREAD})
target_link_libraries(pendant_core PUBLIC pugixml_static)

add_library(pendant_windows STATIC ${PENDANT_WINDOWS_SOURCES})
target_compile_options(pendant_windows PRIVATE ${PENDANT_WARNINGS} ${PENDANT_WIN32_SINGLE_THREAD})
target_link_libraries(pendant_windows PUBLIC pendant_core)

include(${CMAKE_SOURCE_DIR}/src/platform/win32/win32.cmake OPTIONAL)
include(${CMAKE_SOURCE_DIR}/tests/wine/wine.cmake OPTIONAL)
