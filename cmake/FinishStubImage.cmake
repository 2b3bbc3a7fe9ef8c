# cmake -DPEFIX=... -DOBJDUMP=... -DIMAGE=... -P FinishStubImage.cmake
# Last step of linking the stub. Moves the PE header to offset 256 so that
# offsets 128..255 are free for the package locator, then checks what a
# package relies on: that room, and imports from DLLs that every Windows
# ships (mpr.dll in particular is loaded at run time from the system folder,
# never imported), and the manifest. Any failure removes the image, so no
# half-finished stub is left for a later step to pick up.
cmake_minimum_required(VERSION 3.20)

function(reject why)
  file(REMOVE ${IMAGE})
  message(FATAL_ERROR "${IMAGE}: ${why}")
endfunction()

execute_process(COMMAND ${PEFIX} ${IMAGE} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  reject("pefix could not move the PE header")
endif()

# e_lfanew (little-endian at 0x3C) must be 256 and bytes 128..255 zero.
file(READ ${IMAGE} lfanew OFFSET 60 LIMIT 4 HEX)
if(NOT lfanew STREQUAL "00010000")
  reject("e_lfanew is 0x${lfanew} (bytes, little-endian), not 256")
endif()
file(READ ${IMAGE} room OFFSET 128 LIMIT 128 HEX)
if(NOT room MATCHES "^0+$")
  reject("offsets 128..255 are not zero")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${IMAGE} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  reject("objdump could not read the image")
endif()
# No msvcrt.dll: the stub carries no C runtime (platform/win32/StubRuntime.cpp).
set(allowed kernel32.dll user32.dll advapi32.dll shell32.dll)
string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
if(NOT imports)
  reject("no import table")
endif()
foreach(line IN LISTS imports)
  string(REGEX REPLACE "^DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST allowed)
    reject("imports ${dll}; allowed are only: ${allowed}")
  endif()
endforeach()
# The 32-bit stub must be large-address-aware (IMAGE_FILE_LARGE_ADDRESS_AWARE,
# 0x20 in the file header's characteristics), or 64-bit Windows gives it only
# 2 GiB and the largest setup programs cannot be unpacked.
if(dump MATCHES "file format pei-i386")
  string(REGEX MATCH "\nCharacteristics 0x([0-9a-fA-F]+)" found "${dump}")
  if(NOT found)
    reject("no file header characteristics")
  endif()
  math(EXPR laa "0x${CMAKE_MATCH_1} & 0x20")
  if(laa EQUAL 0)
    reject("not large-address-aware (characteristics 0x${CMAKE_MATCH_1})")
  endif()
endif()
# Resource type 24 (RT_MANIFEST), id 1.
if(NOT dump MATCHES "Entry: ID: 0x000018")
  reject("no manifest resource")
endif()
# pkgtool writes the vendor's icon and version information by replacing the
# last section whole; that section must be the resources.
execute_process(COMMAND ${OBJDUMP} -h ${IMAGE} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
string(REGEX MATCHALL "\n +[0-9]+ +[.][a-z]+" names "${headers}")
if(NOT names)
  reject("objdump lists no sections")
endif()
list(GET names -1 last)
string(REGEX REPLACE "^[\n ]*[0-9]+ +" "" last "${last}")
if(NOT last STREQUAL ".rsrc")
  reject("the last section is ${last}, not .rsrc")
endif()
