# SetupLauncher for CMake projects: one call makes a target that builds a
# self-contained setup package with pkgtool once the setup programs are
# built, and again whenever they change.
#
#   find_package(SetupLauncher 1.0 REQUIRED)
#   setup_launcher_add_package(MyAppSetup
#     OUTPUT MyAppSetup.exe            # relative: in the current build folder
#     X86 myapp-setup32                # a target, or a file
#     X64 ${CMAKE_SOURCE_DIR}/prebuilt/setup64.exe
#     [RECIPE installer/setup.json]    # pkgtool build --recipe; relative: source folder
#     [SIGN_COMMAND "signtool sign /fd SHA256 /a {file}"]
#     [OPTIONS --expires 2027-01-01 --version-info ProductName=MyApp ...])
#
# pkgtool is the one installed beside this file (PREFIX/bin/pkgtool, or
# pkgtool.exe), unless SETUP_LAUNCHER_PKGTOOL names another. On Windows the
# same call runs pkgtool.exe. When cross-compiling with a toolchain file that
# confines find_package to the target's root, give SetupLauncher_DIR.

get_filename_component(_setup_launcher_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT SETUP_LAUNCHER_PKGTOOL)
  find_program(SETUP_LAUNCHER_PKGTOOL NAMES pkgtool pkgtool.exe
               HINTS "${_setup_launcher_prefix}/bin" "${CMAKE_CURRENT_LIST_DIR}"
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
               DOC "pkgtool, which builds the setup packages")
endif()
if(NOT SETUP_LAUNCHER_PKGTOOL)
  set(SetupLauncher_FOUND FALSE)
  set(SetupLauncher_NOT_FOUND_MESSAGE
      "no pkgtool in ${_setup_launcher_prefix}/bin; set SETUP_LAUNCHER_PKGTOOL to the pkgtool to use")
  return()
endif()

function(setup_launcher_add_package name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "OUTPUT;X86;X64;RECIPE;SIGN_COMMAND" "OPTIONS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "setup_launcher_add_package(${name}): unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_OUTPUT)
    message(FATAL_ERROR "setup_launcher_add_package(${name}): OUTPUT is required")
  endif()
  if(NOT arg_X86 AND NOT arg_X64 AND NOT arg_RECIPE)
    message(FATAL_ERROR "setup_launcher_add_package(${name}): give X86, X64 or a RECIPE that names them")
  endif()
  get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  set(command "${SETUP_LAUNCHER_PKGTOOL}" build -q -o "${output}")
  set(depends "${SETUP_LAUNCHER_PKGTOOL}")
  foreach(slot X86 X64)
    set(program "${arg_${slot}}")
    if(NOT program)
      continue()
    endif()
    string(TOLOWER "${slot}" option)
    if(TARGET "${program}")
      # A target: built first, and the package made again when it changes.
      list(APPEND command "--${option}" "$<TARGET_FILE:${program}>")
    else()
      get_filename_component(program "${program}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
      list(APPEND command "--${option}" "${program}")
    endif()
    list(APPEND depends "${program}")
  endforeach()
  if(arg_RECIPE)
    get_filename_component(recipe "${arg_RECIPE}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND command --recipe "${recipe}")
    list(APPEND depends "${recipe}")
  endif()
  if(arg_SIGN_COMMAND)
    list(APPEND command --sign-command "${arg_SIGN_COMMAND}")
  endif()
  list(APPEND command ${arg_OPTIONS})
  get_filename_component(folder "${output}" DIRECTORY)
  add_custom_command(OUTPUT "${output}"
                     COMMAND "${CMAKE_COMMAND}" -E make_directory "${folder}"
                     COMMAND ${command}
                     DEPENDS ${depends}
                     COMMENT "Building setup package ${arg_OUTPUT}"
                     VERBATIM)
  add_custom_target(${name} ALL DEPENDS "${output}")
endfunction()
