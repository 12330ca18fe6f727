# Fails when an executable imports a call that takes or gives a name or a text in the ANSI code
# page: such a call turns every character outside that code page into "?". Run on the build host:
#   cmake -DOBJDUMP=<objdump> "-DEXECUTABLES=<a.exe;b.exe>" -P AnsiImports.cmake
# FormatMessageA is not listed: the runtime imports it for its own messages.
set(ansi_calls
    CharNextA CreateFileA DeleteFileA FindFirstFileA FindNextFileA GetCommandLineA
    GetFileAttributesA GetLocaleInfoA GetModuleFileNameA GetPrivateProfileStringA
    GetSystemDirectoryA LoadLibraryExA MessageBoxA MoveFileExA QueryFullProcessImageNameA
    SetCurrentDirectoryA ShellExecuteA ShellExecuteExA WritePrivateProfileStringA)
foreach(executable IN LISTS EXECUTABLES)
  execute_process(COMMAND ${OBJDUMP} -p ${executable} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT dump MATCHES "DLL Name: KERNEL32.dll")
    message(FATAL_ERROR "${executable}: no import table read (${result})")
  endif()
  set(found)
  foreach(call IN LISTS ansi_calls)
    if(dump MATCHES "[ \t]${call}\n")
      list(APPEND found ${call})
    endif()
  endforeach()
  if(found)
    message(FATAL_ERROR "${executable} imports ANSI calls: ${found}")
  endif()
endforeach()
