# Host build (Linux): the core with the in-memory platform, the package
# writer, pkgtool, the unit tests, benchmarks and the fuzzer.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LZMA REQUIRED IMPORTED_TARGET liblzma)

option(STUB_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(STUB_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

add_compile_options(-Wall -Wextra)

# The host's answer to what Windows says about the processor goes with the
# core itself: the checksum asks it, and a program that links nothing else of
# the in-memory platform still needs it.
set(HOST_PROCESSOR_SOURCE ${CMAKE_SOURCE_DIR}/platform/memory/HostProcessor.cpp)
add_library(stubcore STATIC ${CORE_SOURCES} ${HOST_PROCESSOR_SOURCE})
target_include_directories(stubcore PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(stubcore PUBLIC PkgConfig::LZMA)

file(GLOB MEMORY_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/memory/*.cpp)
list(REMOVE_ITEM MEMORY_PLATFORM_SOURCES ${HOST_PROCESSOR_SOURCE})
add_library(stubmemory STATIC ${MEMORY_PLATFORM_SOURCES})
target_link_libraries(stubmemory PUBLIC stubcore)

file(GLOB WRITER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/package/writer/*.cpp)
if(WRITER_SOURCES)
  add_library(packagewriter STATIC ${WRITER_SOURCES})
  target_link_libraries(packagewriter PUBLIC stubcore)
endif()

# The 32-bit build (tools/unit32.sh) needs the core's unit tests alone: pkgtool,
# the benchmarks and the Wine suite want libraries it has no i386 copy of.
option(STUB_UNIT_TESTS_ONLY "Configure only the core and its unit tests" OFF)
set(HOST_PARTS tools tests bench)
if(STUB_UNIT_TESTS_ONLY)
  set(HOST_PARTS tests)
endif()

enable_testing()
foreach(dir ${HOST_PARTS})
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
