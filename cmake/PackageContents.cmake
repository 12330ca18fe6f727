# Builds the release zip from a finished build and checks that it holds exactly the files that
# ship, with both executables stripped. Run on the build host, not under Wine:
#   cmake -DBINARY_DIR=<build> -DPACKAGE_NAME=<zip name without .zip> -P PackageContents.cmake
foreach(variable BINARY_DIR PACKAGE_NAME)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()

# A folder of its own, so that a `make package` in the build folder is not disturbed.
set(work ${BINARY_DIR}/Testing/PackageContents)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})

execute_process(
  COMMAND ${CMAKE_CPACK_COMMAND} -G ZIP --config ${BINARY_DIR}/CPackConfig.cmake -B ${work}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
set(zip ${work}/${PACKAGE_NAME}.zip)
if(NOT result EQUAL 0 OR NOT EXISTS ${zip})
  message(FATAL_ERROR "cpack did not make ${zip}:\n${output}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zip}
                RESULT_VARIABLE result OUTPUT_VARIABLE listing ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot list ${zip}: ${error}")
endif()
string(REPLACE "\n" ";" entries "${listing}")
set(files "")
foreach(entry IN LISTS entries)
  # Folders are implied by the files in them.
  if(entry AND NOT entry MATCHES "/$")
    list(APPEND files ${entry})
  endif()
endforeach()
list(SORT files)

set(expected
    README.md
    kit/KorvelLink.cpp
    kit/KorvelLink.h
    kit/KorvelProtocol.h
    kit/sample/SampleApp.cpp
    korvel-alerts.yml
    korvel-task.xml
    korvel-user-task.xml
    korvel.exe
    korvel.ini
    tarrow.exe)
list(TRANSFORM expected PREPEND ${PACKAGE_NAME}/)
list(SORT expected)
if(NOT files STREQUAL expected)
  string(REPLACE ";" "\n  " files_text "${files}")
  string(REPLACE ";" "\n  " expected_text "${expected}")
  message(FATAL_ERROR "${zip} holds\n  ${files_text}\nexpected\n  ${expected_text}")
endif()

# The build keeps its debug information; the release must not carry it.
file(ARCHIVE_EXTRACT INPUT ${zip} DESTINATION ${work}/unpacked)
foreach(program korvel tarrow)
  file(SIZE ${BINARY_DIR}/bin/${program}.exe built)
  file(SIZE ${work}/unpacked/${PACKAGE_NAME}/${program}.exe shipped)
  if(NOT shipped LESS built)
    message(FATAL_ERROR "${program}.exe is not stripped: ${shipped} bytes, built ${built}")
  endif()
  message(STATUS "${program}.exe: ${shipped} bytes (built ${built})")
endforeach()
