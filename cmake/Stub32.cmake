# Cross build (MinGW-w64): Stub32.exe = the core + the Windows platform,
# statically linked with a decode-only liblzma, importing system DLLs only.
# With the x86_64 toolchain the same sources give Stub64.exe, a test-only
# build for machines that cannot run 32-bit code.
enable_language(RC)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(STUB_NAME Stub32)
  set(STUB_TRIPLET i686-w64-mingw32)
else()
  set(STUB_NAME Stub64)
  set(STUB_TRIPLET x86_64-w64-mingw32)
endif()

# --- liblzma, built once from Debian's source and kept in the build folder ---
string(REGEX REPLACE "-.*" "" STUB_ARCH ${STUB_TRIPLET})
set(LIBLZMA_MINGW_PREFIX ${CMAKE_BINARY_DIR}/liblzma-${STUB_ARCH} CACHE PATH
    "Where the decode-only liblzma for the stub is built and kept")
# The script records the flags it built with and rebuilds when they change;
# editing it re-runs this configure step.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/liblzma-mingw.sh)
# LIBLZMA_RECIPE, when given, builds another variant (bench/decoders.sh
# compares them); its first word is "small" or "unrolled", the rest CFLAGS.
set(LIBLZMA_RECIPE "" CACHE STRING "liblzma build instead of the one cmake/liblzma-mingw.sh names")
file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/liblzma-mingw.sh lzma_wanted REGEX "^recipe=")
string(REGEX REPLACE "^recipe=\"(.*)\"$" "\\1" lzma_wanted "${lzma_wanted}")
if(LIBLZMA_RECIPE)
  set(lzma_wanted "${LIBLZMA_RECIPE}")
endif()
set(lzma_built "")
if(EXISTS ${LIBLZMA_MINGW_PREFIX}/recipe)
  file(STRINGS ${LIBLZMA_MINGW_PREFIX}/recipe lzma_built)
endif()
if(NOT EXISTS ${LIBLZMA_MINGW_PREFIX}/lib/liblzma.a OR NOT lzma_built STREQUAL lzma_wanted)
  message(STATUS "Building liblzma for ${STUB_TRIPLET} into ${LIBLZMA_MINGW_PREFIX}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "LIBLZMA_RECIPE=${LIBLZMA_RECIPE}"
            bash ${CMAKE_SOURCE_DIR}/cmake/liblzma-mingw.sh ${LIBLZMA_MINGW_PREFIX} ${STUB_TRIPLET}
    RESULT_VARIABLE lzma_result)
  if(NOT lzma_result EQUAL 0)
    message(FATAL_ERROR "liblzma for ${STUB_TRIPLET} could not be built (see above)")
  endif()
endif()
add_library(lzma_mingw STATIC IMPORTED)
set_target_properties(lzma_mingw PROPERTIES
  IMPORTED_LOCATION ${LIBLZMA_MINGW_PREFIX}/lib/liblzma.a
  INTERFACE_INCLUDE_DIRECTORIES ${LIBLZMA_MINGW_PREFIX}/include
  INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)

# --- pefix, a host program, run on the linked image ---------------------------
# The toolchain file only names cross compilers, so the host compiler is
# looked up on PATH.
find_program(HOST_CXX NAMES g++ c++ clang++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)
set(PEFIX ${CMAKE_BINARY_DIR}/host-tools/pefix)
set(PEFIX_SOURCES ${CMAKE_SOURCE_DIR}/tools/pefix/PeFix.cpp ${CMAKE_SOURCE_DIR}/tools/pefix/PeFixMain.cpp
    ${CMAKE_SOURCE_DIR}/authoring/PeResources.cpp)
add_custom_command(
  OUTPUT ${PEFIX}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host-tools
  COMMAND ${HOST_CXX} -std=c++20 -O2 -Wall -Wextra -I${CMAKE_SOURCE_DIR} -o ${PEFIX} ${PEFIX_SOURCES}
  DEPENDS ${PEFIX_SOURCES} ${CMAKE_SOURCE_DIR}/tools/pefix/PeFix.h
          ${CMAKE_SOURCE_DIR}/authoring/PeResources.h
  COMMENT "Building pefix with the host compiler"
  VERBATIM)
add_custom_target(pefix DEPENDS ${PEFIX})

# --- the stub ------------------------------------------------------------------
file(GLOB WIN32_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win32/*.cpp)
add_executable(${STUB_NAME} WIN32
  ${CORE_SOURCES} ${WIN32_PLATFORM_SOURCES} ${CMAKE_SOURCE_DIR}/platform/win32/Stub32.rc)
add_dependencies(${STUB_NAME} pefix)
target_include_directories(${STUB_NAME} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/platform/win32)
target_compile_definitions(${STUB_NAME} PRIVATE
  NDEBUG UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
# Size first: the stub travels with every package. LTO compiles the stub and
# liblzma (built with LTO too) as one unit; that alone takes about 1.5 KiB off.
set(STUB_OPTIMIZATION -Os -flto CACHE STRING "Optimisation flags for the stub, compile and link")
# One thread and no exceptions: guarded statics and unwind tables would only
# pull the C++ runtime's exception machinery into the image.
set(STUB_CXX_FLAGS ${STUB_OPTIMIZATION} -Wall -Wextra -fno-exceptions -fno-rtti
  -fno-threadsafe-statics -fno-asynchronous-unwind-tables -ffunction-sections
  -fno-ident)
target_compile_options(${STUB_NAME} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${STUB_CXX_FLAGS}>")
# The stand-ins for memcpy and friends must not be compiled into calls to
# themselves, nor be merged into the LTO unit where that could happen later.
set_source_files_properties(${CMAKE_SOURCE_DIR}/platform/win32/StubRuntime.cpp PROPERTIES
  COMPILE_OPTIONS "-fno-builtin;-fno-tree-loop-distribute-patterns;-fno-lto")
# windres reads the manifest itself; rebuild the resource when it changes.
set_source_files_properties(${CMAKE_SOURCE_DIR}/platform/win32/Stub32.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win32/Stub32.manifest)
# No C runtime: Windows enters at StubEntry (WinMain.cpp) and StubRuntime.cpp
# supplies the handful of C routines in use. That drops the CRT's start-up
# code, its TLS and pseudo-relocation support and the msvcrt.dll import.
# libgcc stays for the compiler's own helpers (stack probes, 64-bit division
# on x86).
if(STUB_NAME STREQUAL "Stub32")
  set(STUB_ENTRY _StubEntry)
else()
  set(STUB_ENTRY StubEntry)
endif()
set(CMAKE_CXX_STANDARD_LIBRARIES "")
set(CMAKE_C_STANDARD_LIBRARIES "")
target_link_options(${STUB_NAME} PRIVATE
  ${STUB_OPTIMIZATION} -static -nostartfiles -nodefaultlibs -mwindows -Wl,--entry=${STUB_ENTRY}
  -Wl,--gc-sections -Wl,--no-insert-timestamp -s)
if(STUB_NAME STREQUAL "Stub32")
  # A 32-bit process gets 4 GiB of address space on 64-bit Windows only when
  # it says it can take addresses above 2 GiB: that is what lets it unpack the
  # largest setup programs a package may carry.
  target_link_options(${STUB_NAME} PRIVATE -Wl,--large-address-aware)
endif()
target_link_libraries(${STUB_NAME} PRIVATE lzma_mingw kernel32 user32 advapi32 shell32 gcc)

# pefix moves the PE header out of the locator's way; then the image is
# checked. A failure fails the build and removes the image.
find_program(MINGW_OBJDUMP NAMES ${STUB_TRIPLET}-objdump REQUIRED)
add_custom_command(TARGET ${STUB_NAME} POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DPEFIX=${PEFIX} -DOBJDUMP=${MINGW_OBJDUMP}
          -DIMAGE=$<TARGET_FILE:${STUB_NAME}> -P ${CMAKE_SOURCE_DIR}/cmake/FinishStubImage.cmake
  VERBATIM)
