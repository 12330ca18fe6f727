# Compiles the product's sources with clang for the same Windows target as the GCC build, with the
# same include folders and defines, and fails on any warning. Objects only, nothing is linked. The
# files and their flags come from the build's compile_commands.json, so a file listed in a
# CMakeLists.txt is checked without being listed again. Run on the build host, not under Wine:
#   cmake -DCLANGXX=<clang++> -DTARGET=<triple> -DSTANDARD=<C++ standard>
#         -DCXX_INCLUDES=<the GCC's implicit include folders> -DSOURCE_DIR=<source tree>
#         -DFOLDERS=<product folders> -DCOMPILE_COMMANDS=<compile_commands.json>
#         -DWORK_DIR=<folder for the objects> -P ClangWarnings.cmake
cmake_minimum_required(VERSION 3.25)

foreach(variable CLANGXX TARGET STANDARD CXX_INCLUDES SOURCE_DIR FOLDERS COMPILE_COMMANDS WORK_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()
if(NOT CLANGXX)
  message(FATAL_ERROR "clang++ not found: install clang (tools/ensure-deps.sh does) or point "
                      "KORVEL_CLANGXX at a clang++ and configure again")
endif()
if(NOT EXISTS ${COMPILE_COMMANDS})
  message(FATAL_ERROR "${COMPILE_COMMANDS} is missing (a generator that writes none?)")
endif()

# Left to itself, clang 14 finds no C++ library for this target and searches the host's
# /usr/include. So it gets no default folders: the GCC's C++ library folders first, clang's builtin
# headers next, the MinGW-w64 headers last, in the order clang uses for a MinGW target. The GCC's
# private folders (include, include-fixed) hold GCC's builtins, which clang brings itself.
set(system_flags -nostdlibinc)
set(cxx_library_found FALSE)
foreach(folder IN LISTS CXX_INCLUDES)
  if(folder MATCHES "/include/c\\+\\+(/|$)")
    list(APPEND system_flags -isystem ${folder})
    set(cxx_library_found TRUE)
  elseif(NOT folder MATCHES "/lib/gcc/.*/include(-fixed)?$")
    list(APPEND system_flags -idirafter ${folder})
  endif()
endforeach()
if(NOT cxx_library_found)
  message(FATAL_ERROR "no C++ library headers among the GCC's include folders: ${CXX_INCLUDES}")
endif()

file(READ ${COMPILE_COMMANDS} json)
string(JSON count LENGTH "${json}")
set(checked "")
set(failures "")
file(REMOVE_RECURSE ${WORK_DIR})
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  string(JSON file GET "${json}" ${index} file)
  file(RELATIVE_PATH relative ${SOURCE_DIR} ${file})
  set(product FALSE)
  foreach(folder IN LISTS FOLDERS)
    if(relative MATCHES "^${folder}/")
      set(product TRUE)
    endif()
  endforeach()
  if(NOT product OR relative IN_LIST checked)
    continue()
  endif()
  list(APPEND checked ${relative})

  string(JSON directory GET "${json}" ${index} directory)
  string(JSON command GET "${json}" ${index} command)
  separate_arguments(arguments UNIX_COMMAND "${command}")
  # On a Windows target CMake hands the include folders over in a response file.
  set(expanded "")
  foreach(argument IN LISTS arguments)
    if(argument MATCHES "^@(.+)$")
      get_filename_component(response_file ${CMAKE_MATCH_1} ABSOLUTE BASE_DIR ${directory})
      file(READ ${response_file} response)
      separate_arguments(response_arguments UNIX_COMMAND "${response}")
      list(APPEND expanded ${response_arguments})
    else()
      list(APPEND expanded ${argument})
    endif()
  endforeach()
  # Only what says where headers are and what is defined: the GCC's code generation and warning
  # options are its own business.
  set(flags "")
  set(takes_next FALSE)
  foreach(argument IN LISTS expanded)
    if(takes_next)
      list(APPEND flags ${argument})
      set(takes_next FALSE)
    elseif(argument MATCHES "^(-D|-U|-I|-isystem)$")
      list(APPEND flags ${argument})
      set(takes_next TRUE)
    elseif(argument MATCHES "^(-D|-U|-I|-isystem)")
      list(APPEND flags ${argument})
    endif()
  endforeach()

  set(object ${WORK_DIR}/${relative}.o)
  get_filename_component(object_dir ${object} DIRECTORY)
  file(MAKE_DIRECTORY ${object_dir})
  execute_process(
    COMMAND ${CLANGXX} --target=${TARGET} -std=c++${STANDARD} -Wall -Wextra -Werror
            ${system_flags} ${flags} -c ${file} -o ${object}
    WORKING_DIRECTORY ${directory}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    list(APPEND failures ${relative})
    message("${relative}:\n${output}")
  endif()
endforeach()

list(LENGTH checked checked_count)
if(checked_count EQUAL 0)
  message(FATAL_ERROR "no file of ${FOLDERS} in ${COMPILE_COMMANDS}")
endif()
if(failures)
  string(REPLACE ";" "\n  " failures_text "${failures}")
  message(FATAL_ERROR "clang found problems in\n  ${failures_text}")
endif()
message(STATUS "${checked_count} files compile warning-free with ${CLANGXX} for ${TARGET}")
