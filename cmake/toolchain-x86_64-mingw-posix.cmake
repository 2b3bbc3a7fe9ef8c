# pkgtool.exe: 64-bit Windows through MinGW-w64's "posix" threads variant,
# whose C++ runtime has std::thread (on winpthreads, linked statically, so
# that no DLL comes with it). The stub keeps the "win32" variant.
find_program(CMAKE_C_COMPILER NAMES x86_64-w64-mingw32-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES x86_64-w64-mingw32-g++-posix REQUIRED)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-x86_64-mingw.cmake)
