# The libraries pkgtool and the host's tests link, for the host and for
# pkgtool.exe alike: the core with the in-memory platform, and the package
# writer (authoring/). TOOL_LZMA names the liblzma target to link.
#
# The host's answer to what Windows says about the processor goes with the
# core itself: the checksum asks it, and a program that links nothing else of
# the in-memory platform still needs it.
set(HOST_PROCESSOR_SOURCE ${CMAKE_SOURCE_DIR}/platform/memory/HostProcessor.cpp)
add_library(stubcore STATIC ${CORE_SOURCES} ${HOST_PROCESSOR_SOURCE})
target_include_directories(stubcore PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(stubcore PUBLIC ${TOOL_LZMA})

file(GLOB MEMORY_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/memory/*.cpp)
list(REMOVE_ITEM MEMORY_PLATFORM_SOURCES ${HOST_PROCESSOR_SOURCE})
add_library(stubmemory STATIC ${MEMORY_PLATFORM_SOURCES})
target_link_libraries(stubmemory PUBLIC stubcore)

file(GLOB WRITER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/authoring/*.cpp)
if(WRITER_SOURCES)
  add_library(authoring STATIC ${WRITER_SOURCES})
  # The version information's strings go through the one UTF-8 codec.
  target_link_libraries(authoring PUBLIC stubcore PRIVATE stubmemory)
endif()
