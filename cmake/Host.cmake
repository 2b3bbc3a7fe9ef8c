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

set(TOOL_LZMA PkgConfig::LZMA)
include(${CMAKE_CURRENT_LIST_DIR}/ToolLibraries.cmake)

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
