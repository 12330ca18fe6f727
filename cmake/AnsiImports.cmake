# Fails when an executable imports any call of the ANSI code page (a name ending in "A"): such a
# call turns every character outside that code page into "?". Run on the build host:
#   cmake -DOBJDUMP=<objdump> "-DEXECUTABLES=<a.exe;b.exe>" -P AnsiImports.cmake
# Allowed are only the runtime's own, which never see a name or a text of ours: libstdc++'s
# FormatMessageA (its own messages), winpthreads' CreateEventA and CreateSemaphoreA (unnamed),
# GetModuleHandleA and OutputDebugStringA, and the start-up code's GetStartupInfoA.
set(allowed CreateEventA CreateSemaphoreA FormatMessageA GetModuleHandleA GetStartupInfoA
    OutputDebugStringA)
# And the DLLs imported must be among the system's known DLLs, which the loader takes from the
# system folder only: any other DLL imported is looked for beside the executable first, before the
# program's first line can restrict the search, so a copy planted there would run inside it. Others
# are loaded at run time by their full path (TSystemLibrary).
set(known_dlls ADVAPI32.dll KERNEL32.dll msvcrt.dll ole32.dll SHELL32.dll USER32.dll)
foreach(executable IN LISTS EXECUTABLES)
  execute_process(COMMAND ${OBJDUMP} -p ${executable} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT dump MATCHES "DLL Name: KERNEL32.dll")
    message(FATAL_ERROR "${executable}: no import table read (${result})")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${dump}")
  foreach(dll IN LISTS dlls)
    string(REPLACE "DLL Name: " "" dll "${dll}")
    list(FIND known_dlls ${dll} known)
    if(known EQUAL -1)
      message(FATAL_ERROR "${executable} imports ${dll}, which is not a known DLL of the system")
    endif()
  endforeach()
  # An import line ends with the call's name: "<address> <hint> <name>".
  string(REGEX MATCHALL "[ \t][0-9]+[ \t]+[A-Za-z_][A-Za-z0-9_]*A\n" imports "${dump}")
  set(found)
  set(seen)
  foreach(import IN LISTS imports)
    string(REGEX REPLACE ".*[ \t]" "" call "${import}")
    string(STRIP "${call}" call)
    list(FIND allowed ${call} index)
    if(index GREATER -1)
      list(APPEND seen ${call})
    else()
      list(APPEND found ${call})
    endif()
  endforeach()
  if(found)
    message(FATAL_ERROR "${executable} imports ANSI calls: ${found}")
  endif()
  # The runtime always imports some of them: none seen means the import lines were not read.
  if(NOT seen)
    message(FATAL_ERROR "${executable}: not even the runtime's ANSI imports were found")
  endif()
endforeach()
