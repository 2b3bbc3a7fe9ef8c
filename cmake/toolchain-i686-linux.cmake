# 32-bit Linux through Debian's cross compiler (g++-i686-linux-gnu): the core
# and its unit tests as 32-bit code, so that every size and offset computation
# runs with a 32-bit size_t. tools/unit32.sh drives it.
#
# The i386 liblzma and zlib come unpacked from Debian's packages into a folder
# of the build (I386_LIBS_ROOT), never installed on the machine; GoogleTest is
# built from /usr/src/googletest by this compiler into GTEST_I386_ROOT.
# Everything links statically, so the test program needs no i386 loader or
# library path: it runs the same natively or under qemu-i386.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

find_program(CMAKE_C_COMPILER NAMES i686-linux-gnu-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES i686-linux-gnu-g++ REQUIRED)

get_filename_component(_unit32_build ${CMAKE_CURRENT_LIST_DIR}/../build ABSOLUTE)
if(NOT I386_LIBS_ROOT)
  set(I386_LIBS_ROOT ${_unit32_build}/i386-libs/root)
endif()
if(NOT GTEST_I386_ROOT)
  set(GTEST_I386_ROOT ${_unit32_build}/i386-libs/googletest)
endif()
# try_compile projects read this file again and need the same roots.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES I386_LIBS_ROOT GTEST_I386_ROOT)

set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu ${I386_LIBS_ROOT} ${GTEST_I386_ROOT})
set(CMAKE_LIBRARY_PATH ${I386_LIBS_ROOT}/usr/lib/i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static archives only: the .so links in Debian's -dev packages point at
# /lib/i386-linux-gnu, which this machine does not have.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# pkg-config answers from the unpacked packages, with their paths re-rooted.
set(ENV{PKG_CONFIG_LIBDIR} ${I386_LIBS_ROOT}/usr/lib/i386-linux-gnu/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${I386_LIBS_ROOT})
set(ENV{PKG_CONFIG_PATH} "")
