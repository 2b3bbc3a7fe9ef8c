# Cross build (MinGW-w64, x86-64): pkgtool.exe, the authoring tool for
# vendors who build on Windows. The host's pkgtool sources with the Windows
# half of FileIo.h and the console unit, linked statically (C++ runtime,
# winpthreads, liblzma) so that it imports only DLLs every Windows has.
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  message(FATAL_ERROR "pkgtool.exe is a 64-bit program: use cmake/toolchain-x86_64-mingw-posix.cmake")
endif()

# --- liblzma with the encoder, built once from Debian's source and kept ------
# The same source version as the host's liblzma, so both tools pack the same
# bytes (the same-bytes test compares them).
set(LIBLZMA_PKGTOOL_PREFIX ${CMAKE_BINARY_DIR}/liblzma-x86_64-pkgtool CACHE PATH
    "Where pkgtool.exe's liblzma is built and kept")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/liblzma-mingw.sh)
file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/liblzma-mingw.sh lzma_wanted REGEX "^recipe_pkgtool=")
string(REGEX REPLACE "^recipe_pkgtool=\"(.*)\"$" "\\1" lzma_wanted "${lzma_wanted}")
set(lzma_built "")
if(EXISTS ${LIBLZMA_PKGTOOL_PREFIX}/recipe)
  file(STRINGS ${LIBLZMA_PKGTOOL_PREFIX}/recipe lzma_built)
endif()
if(NOT EXISTS ${LIBLZMA_PKGTOOL_PREFIX}/lib/liblzma.a OR NOT lzma_built STREQUAL lzma_wanted)
  message(STATUS "Building liblzma for pkgtool.exe into ${LIBLZMA_PKGTOOL_PREFIX}")
  execute_process(
    COMMAND bash ${CMAKE_SOURCE_DIR}/cmake/liblzma-mingw.sh ${LIBLZMA_PKGTOOL_PREFIX}
            x86_64-w64-mingw32 pkgtool
    RESULT_VARIABLE lzma_result)
  if(NOT lzma_result EQUAL 0)
    message(FATAL_ERROR "liblzma for pkgtool.exe could not be built (see above)")
  endif()
endif()
add_library(lzma_pkgtool STATIC IMPORTED)
set_target_properties(lzma_pkgtool PROPERTIES
  IMPORTED_LOCATION ${LIBLZMA_PKGTOOL_PREFIX}/lib/liblzma.a
  INTERFACE_INCLUDE_DIRECTORIES ${LIBLZMA_PKGTOOL_PREFIX}/include
  INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)

# --- CLI11 and nlohmann-json: header-only, the host's own copies -------------
# Only their two folders, not the rest of /usr/include, which holds Linux's
# headers.
set(HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${HOST_HEADERS})
foreach(folder CLI nlohmann)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing (make deps installs libcli11-dev and nlohmann-json3-dev)")
  endif()
  if(NOT EXISTS ${HOST_HEADERS}/${folder})
    file(CREATE_LINK /usr/include/${folder} ${HOST_HEADERS}/${folder} SYMBOLIC)
  endif()
endforeach()
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${HOST_HEADERS})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${HOST_HEADERS})

add_compile_options(-Wall -Wextra)
# -O2, as the host's pkgtool (RelWithDebInfo) is built.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG")
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
set(TOOL_LZMA lzma_pkgtool)
include(${CMAKE_CURRENT_LIST_DIR}/ToolLibraries.cmake)
add_subdirectory(tools)

# A test helper, never shipped: holds a file open as a running program would
# (tests/cli/windows_test.sh).
add_executable(holdopen ${CMAKE_SOURCE_DIR}/tests/cli/HoldOpen.c)
target_link_options(holdopen PRIVATE -municode -s)
