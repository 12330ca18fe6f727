# Checks the logon task that ships beside korvel: a UTF-16 LE byte-order mark, whole UTF-16 units,
# well-formed XML and the settings that bring korvel back. Run on the build host:
#   cmake -DXMLLINT=<xmllint> -DTASK_FILE=<res/korvel-task.xml> -P TaskFile.cmake
# (or res/korvel-user-task.xml).
if(NOT XMLLINT)
  message(FATAL_ERROR "xmllint not found: install libxml2-utils (tools/ensure-deps.sh does)")
endif()
# xmllint refuses a broken surrogate pair, but reads UTF-16 without the mark and drops an odd byte.
file(READ ${TASK_FILE} hex HEX)
string(LENGTH "${hex}" length)
math(EXPR odd "${length} % 4")
execute_process(COMMAND ${XMLLINT} --noout ${TASK_FILE} RESULT_VARIABLE result ERROR_VARIABLE error)
if(odd OR NOT hex MATCHES "^fffe" OR NOT result EQUAL 0)
  message(FATAL_ERROR "${TASK_FILE}: not well-formed UTF-16 LE with a byte-order mark\n${error}")
endif()

# Element paths below Task, every step in the Task Scheduler's namespace, and their text. Both
# files keep korvel running for the whole session at normal priority.
set(checks
    Triggers/LogonTrigger/Repetition/Interval=PT5M
    Triggers/LogonTrigger/Repetition/Duration= # without end
    Principals/Principal/LogonType=InteractiveToken
    Principals/Principal/RunLevel=LeastPrivilege
    Settings/ExecutionTimeLimit=PT0S
    Settings/DisallowStartIfOnBatteries=false
    Settings/StopIfGoingOnBatteries=false
    Settings/Priority=4)
if(NOT TASK_FILE MATCHES "user-task")
  list(APPEND checks
       Triggers/LogonTrigger/UserId= # any user's logon
       # The users already signed in when it is registered (an install, an upgrade), likewise.
       Triggers/RegistrationTrigger/Repetition/Interval=PT5M
       Triggers/RegistrationTrigger/Repetition/Duration=
       Triggers/RegistrationTrigger/Delay=
       Principals/Principal/GroupId=S-1-5-32-545
       Settings/MultipleInstancesPolicy=Parallel # a korvel for each user signed in
       [[Actions/Exec/Command="C:\Program Files\Tamrix\korvel\korvel.exe"]]
       [[Actions/Exec/WorkingDirectory=C:\Program Files\Tamrix\korvel]])
else()
  list(APPEND checks
       Triggers/LogonTrigger/UserId=USER_ID # the README replaces it with the user's account
       Principals/Principal/UserId=USER_ID
       Settings/MultipleInstancesPolicy=IgnoreNew
       [[Actions/Exec/Command="%LOCALAPPDATA%\Programs\Tamrix\korvel\korvel.exe"]]
       [[Actions/Exec/WorkingDirectory=%LOCALAPPDATA%\Programs\Tamrix\korvel]])
endif()
set(namespace http://schemas.microsoft.com/windows/2004/02/mit/task)
foreach(check IN LISTS checks)
  string(REGEX MATCH "^([^=]*)=(.*)$" check "${check}")
  set(expected "${CMAKE_MATCH_2}")
  string(REGEX REPLACE "/?([A-Za-z]+)" "/*[local-name()='\\1' and namespace-uri()='${namespace}']"
                       path "Task/${CMAKE_MATCH_1}")
  execute_process(COMMAND ${XMLLINT} --xpath "string(${path})" ${TASK_FILE}
                  OUTPUT_VARIABLE actual OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "${TASK_FILE}: Task/${check} is '${actual}'")
  endif()
endforeach()
