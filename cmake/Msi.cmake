# Builds korvel's Windows Installer package from res/korvel.wxs on the build host:
#   cmake -DWIXL=<wixl> -DMSIBUILD=<msibuild> -DSTRIP=<strip> -DSOURCE_DIR=<repository>
#         -DKORVEL_EXE=<korvel.exe> -DKORVEL_INI=<korvel.ini> -DKORVEL_SETUP=<korvel-setup.exe>
#         -DVERSION=<x.y.z> -DOUTPUT=<.msi> -P Msi.cmake
# wixl writes the tables it knows; msibuild then adds what it lacks: the conditions of the
# setting components, the korvel.ini entries, the checks of the values given, the permissions, the
# custom actions, and the attributes wixl drops.
foreach(variable WIXL MSIBUILD STRIP SOURCE_DIR KORVEL_EXE KORVEL_INI KORVEL_SETUP VERSION OUTPUT)
  if(NOT ${variable})
    message(FATAL_ERROR "${variable} is not set (wixl and msibuild: tools/ensure-deps.sh)")
  endif()
endforeach()

# One public property per setting that an administrator gives at install, the korvel.ini entry it
# writes, and the values it may take (README.md's settings table): property, section, key, range.
# A range is <low>-<high>, with "0," before it when 0 (off) is allowed below the low bound; "-" for
# text.
set(settings
    STARTUP_TIMEOUT Options startup_timeout 1-20
    MAIN_TIMEOUT Options main_timeout 1-86400
    BUSY_TIMEOUT Options busy_timeout 1-86400
    CALL_STREAM_TIMEOUT Options call_stream_timeout 1-86400
    AUTO_EXIT Options auto_exit 0-1
    HANG_DUMP Recovery hang_dump 0-2
    HANG_DUMP_KEEP Recovery hang_dump_keep 1-100
    RESTART_ON_EXIT Recovery restart_on_exit 0-1
    CLOSE_TIMEOUT Recovery close_timeout 0-60
    HANG_STACK Recovery hang_stack 0-1
    LOG_MAX_SIZE_KB Log max_size_kb 0,64-1048576
    LOG_KEEP Log keep 1-20
    EVENT_LOG Log event_log 0-1
    PER_SESSION_LOG Log per_session 0-1
    TEXTFILE_FOLDER Metrics textfile_folder -)

get_filename_component(folder ${OUTPUT} DIRECTORY)
get_filename_component(name ${OUTPUT} NAME_WLE)
set(work ${folder}/${name}-work)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})

# Each entry is a component of its own, installed only when its property is given, and permanent:
# neither an uninstall nor the removal of an older version during an upgrade takes the entry out
# of the user's korvel.ini. Its id must stay the same in every version, so it derives from the
# property's name.
#
# A value outside its range, or no whole number, fails the install with a message that names the
# property: an error custom action (type 19) per property, named after it as well, so that even a
# log without the message (Wine's) names it. A condition compares as integers only when the
# property holds one; any other text compares false, so "abc" fails the range too.
set(components "")
set(queries "")
set(properties TAMRIXDIR)
set(namespace 7D1C9E4B-5A63-4F0E-9B2D-6C8A1E3F4B57)
set(check_sequence 110)
list(LENGTH settings count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 4)
  math(EXPR j "${i} + 1")
  math(EXPR k "${i} + 2")
  math(EXPR r "${i} + 3")
  list(GET settings ${i} property)
  list(GET settings ${j} section)
  list(GET settings ${k} key)
  list(GET settings ${r} range)
  list(APPEND properties ${property})
  string(UUID guid NAMESPACE ${namespace} NAME ${property} TYPE SHA1 UPPER)
  string(APPEND components
         "      <Component Id=\"Ini.${property}\" Guid=\"${guid}\" Win64=\"yes\"/>\n")
  # Attributes: 64-bit (256) and permanent (16).
  list(APPEND queries
       "UPDATE `Component` SET `Condition` = '${property}', `Attributes` = 272 WHERE `Component` = 'Ini.${property}'"
       "INSERT INTO `IniFile` (`IniFile`, `FileName`, `DirProperty`, `Section`, `Key`, `Value`, `Action`, `Component_`) VALUES ('Ini.${property}', 'korvel.ini', 'KORVELDIR', '${section}', '${key}', '[${property}]', 0, 'Ini.${property}')")
  if(range MATCHES "^(0,)?([0-9]+)-([0-9]+)$")
    set(valid "(${property} >= ${CMAKE_MATCH_2} AND ${property} <= ${CMAKE_MATCH_3})")
    set(text "from ${CMAKE_MATCH_2} to ${CMAKE_MATCH_3}")
    if(CMAKE_MATCH_1)
      set(valid "(${property} = 0 OR ${valid})")
      set(text "0, or ${text}")
    endif()
    list(APPEND queries
         "INSERT INTO `CustomAction` (`Action`, `Type`, `Target`) VALUES ('Invalid.${property}', 19, '${property}=[${property}] is refused: ${property} must be a whole number ${text}.')"
         "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('Invalid.${property}', '${property} AND NOT ${valid}', ${check_sequence})")
    math(EXPR check_sequence "${check_sequence} + 1")
  endif()
endforeach()
# busy_timeout is never below main_timeout (korvel raises it to that); given both, the same holds.
list(APPEND queries
     "INSERT INTO `CustomAction` (`Action`, `Type`, `Target`) VALUES ('Invalid.BUSY_TIMEOUT.BelowMain', 19, 'BUSY_TIMEOUT=[BUSY_TIMEOUT] is refused: BUSY_TIMEOUT must not be below MAIN_TIMEOUT ([MAIN_TIMEOUT]).')"
     "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('Invalid.BUSY_TIMEOUT.BelowMain', 'BUSY_TIMEOUT AND MAIN_TIMEOUT AND BUSY_TIMEOUT < MAIN_TIMEOUT', ${check_sequence})")
file(WRITE ${work}/settings.wxs
     "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
     "<!-- Made by cmake/Msi.cmake. -->\n"
     "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n  <Fragment>\n"
     "    <ComponentGroup Id=\"Settings\" Directory=\"KORVELDIR\">\n${components}"
     "    </ComponentGroup>\n  </Fragment>\n</Wix>\n")

# What ships, in the work folder: wixl takes only relative source paths. The executables without
# their debug information; korvel-setup.exe goes into the Binary table (Binary/ beside its .idt).
file(COPY_FILE ${KORVEL_INI} ${work}/korvel.ini)
file(MAKE_DIRECTORY ${work}/Binary)
foreach(pair "${KORVEL_EXE}|korvel.exe" "${KORVEL_SETUP}|Binary/KorvelSetup.exe")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 from)
  list(GET pair 1 to)
  execute_process(COMMAND ${STRIP} -o ${work}/${to} ${from} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${STRIP} could not strip ${from}")
  endif()
endforeach()

# One product code per version, the same in every build of it: a rebuilt package of the same
# version is the same product, which msiexec /x of either removes.
string(UUID product NAMESPACE ${namespace} NAME "korvel ${VERSION}" TYPE SHA1 UPPER)
execute_process(
  COMMAND ${WIXL} -a x64 -D Version=${VERSION} -D ProductCode=${product} -D KorvelExe=korvel.exe
          -D KorvelIni=korvel.ini
          -o ${OUTPUT} ${SOURCE_DIR}/res/korvel.wxs settings.wxs
  WORKING_DIRECTORY ${work}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
# wixl warns about each attribute it does not know (Permanent, NeverOverwrite) and goes on; they
# are set below.
if(NOT result EQUAL 0 OR NOT EXISTS ${OUTPUT})
  message(FATAL_ERROR "wixl did not make ${OUTPUT}:\n${output}")
endif()

# Tables of their own, in msibuild's text form: descriptors hold semicolons, which a CMake list
# would split.
function(import_table name text)
  file(WRITE ${work}/${name}.idt "${text}")
  # A stream column names its file in <table>/ of the current folder.
  execute_process(COMMAND ${MSIBUILD} ${OUTPUT} -i ${work}/${name}.idt WORKING_DIRECTORY ${work}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild could not add the table ${name}:\n${output}")
  endif()
endfunction()
function(run_query query)
  execute_process(COMMAND ${MSIBUILD} ${OUTPUT} -q "${query}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild refused\n  ${query}\n${output}")
  endif()
endfunction()

# Who may write what, by well-known SID, so that the package works in every display language
# (the older LockPermissions table takes account names). korvel's folder, whatever TAMRIXDIR
# names, takes nothing from its parent (a folder under C:\ would pass on write access for
# Authenticated Users): Users may read and run korvel.exe, never put a file beside it.
# korvel.ini is the administrators' policy, which every korvel on the machine reads: Users may
# read it, never write it, nor hold it for writing. In logs\ and the metrics folder Users may add
# files, not folders, and no other user's file may they open: only the owner (CREATOR OWNER)
# may change a file, and korvel makes each of its own private besides. The metrics folder gets
# the README's grants ("Who may write the folder").
set(ini_sddl "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)")
set(shared_folder_sddl
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;0x1301bf;;;CO)(A;;0x1200ab;;;BU)")
string(CONCAT locks
  "MsiLockPermissionsEx\tLockObject\tTable\tSDDLText\tCondition\n"
  "s72\ts72\ts32\ts0\tS255\n"
  "MsiLockPermissionsEx\tMsiLockPermissionsEx\n"
  "Lock.KORVELDIR\tKORVELDIR\tCreateFolder\t"
  "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)\t\n"
  "Lock.korvel.ini\tkorvel.ini\tFile\t${ini_sddl}\t\n"
  "Lock.LOGSDIR\tLOGSDIR\tCreateFolder\t${shared_folder_sddl}\t\n"
  "Lock.METRICSDIR\tMETRICSDIR\tCreateFolder\t${shared_folder_sddl}\t\n")
import_table(MsiLockPermissionsEx "${locks}")
import_table(Binary "Name\tData\ns72\tv0\nBinary\tName\nKorvelSetup\tKorvelSetup.exe\n")

# korvel-setup.exe's steps, deferred and run as SYSTEM (no impersonation: 1024 + 2048), from the
# Binary table (2); 64: the step's failure does not fail the install, 256: at rollback only, 512:
# at the commit only. A step that leaves things as they were need not be undone.
# - korvel.exe set aside while it runs (PackageSteps.h), before the old version is removed and
#   the files are installed: the installer never meets a file in use, and every korvel running
#   it ends at an idle moment. InstallExecute runs the script written so far, so that the step
#   comes first under Wine's msiexec too, which runs each standard action as it reaches it.
#   The copies set aside go at the commit, or at the rollback.
# - The logon task: removed before the files at uninstall (put back at rollback); registered for
#   the installed korvel.exe after the files at install, upgrade and repair (removed at rollback).
#   Its registration trigger starts korvel in the sessions already signed in.
# - korvel.ini given the grants above: Windows Installer applies them only to a file it installs,
#   and never puts korvel.ini over one that is there (one kept from an older version granted
#   Users write access).
# $KorvelExe is korvel.exe's action: 3 installed (or reinstalled), 2 removed.
set(folder "\"[KORVELDIR].\"")
run_query("UPDATE `InstallExecuteSequence` SET `Sequence` = 1510 WHERE `Action` = 'RemoveExistingProducts'")
foreach(step
    "KorvelDropAside.Rollback|3394|drop-aside ${folder}|$KorvelExe >= 2|1501"
    "KorvelSetAside|3138|set-aside ${folder}|$KorvelExe >= 2|1502"
    "KorvelDropAside|3650|drop-aside ${folder}|$KorvelExe >= 2|1503"
    "KorvelRemoveTask.Rollback|3394|add-task ${folder}|$KorvelExe = 2|1504"
    "KorvelRemoveTask|3138|remove-task ${folder}|$KorvelExe = 2|1505"
    "InstallExecute||||1506"
    "KorvelAddTask.Rollback|3394|remove-task ${folder}|$KorvelExe = 3|4010"
    "KorvelAddTask|3074|add-task ${folder}|$KorvelExe = 3|4011"
    "KorvelLockSettings|3074|lock \"[KORVELDIR]korvel.ini\" \"${ini_sddl}\"|$KorvelExe = 3|4012")
  # Fields apart by "|": a target may hold semicolons.
  string(REGEX MATCH "^([^|]*)[|]([^|]*)[|]([^|]*)[|]([^|]*)[|]([^|]*)$" step "${step}")
  set(action ${CMAKE_MATCH_1})
  set(type ${CMAKE_MATCH_2})
  set(target "${CMAKE_MATCH_3}")
  set(condition ${CMAKE_MATCH_4})
  set(sequence ${CMAKE_MATCH_5})
  if(type)
    run_query("INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('${action}', ${type}, 'KorvelSetup', '${target}')")
  endif()
  run_query("INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('${action}', '${condition}', ${sequence})")
endforeach()

# The properties reach an install that UAC elevates.
execute_process(COMMAND msiinfo export ${OUTPUT} Property OUTPUT_VARIABLE table)
string(REGEX MATCH "SecureCustomProperties\t([^\r\n]*)" secure "${table}")
string(JOIN ";" secure ${CMAKE_MATCH_1} ${properties})
run_query("UPDATE `Property` SET `Value` = '${secure}' WHERE `Property` = 'SecureCustomProperties'")

list(PREPEND queries
     "CREATE TABLE `IniFile` (`IniFile` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL LOCALIZABLE, `DirProperty` CHAR(72), `Section` CHAR(96) NOT NULL LOCALIZABLE, `Key` CHAR(128) NOT NULL LOCALIZABLE, `Value` CHAR(255) NOT NULL LOCALIZABLE, `Action` INT NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY `IniFile`)"
     "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveIniValues', 3100)"
     # At install and upgrade only. A repair reinstalls the components installed before, whatever
     # their conditions say now, and would write each entry again with its property empty.
     "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('WriteIniValues', 'NOT Installed', 5100)"
     # TAMRIXDIR must hold Tamrix.exe. The folder to look in is the one remembered (AppSearch),
     # else the one given, else the default, which Windows Installer would only set later, at
     # CostFinalize. CCPSearch then looks for Tamrix.exe there (CCP_Success) after AppSearch.
     "INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('TamrixExe', 'Tamrix.exe')"
     "CREATE TABLE `DrLocator` (`Signature_` CHAR(72) NOT NULL, `Parent` CHAR(72), `Path` CHAR(255), `Depth` INT PRIMARY KEY `Signature_`, `Parent`, `Path`)"
     "INSERT INTO `DrLocator` (`Signature_`, `Path`, `Depth`) VALUES ('TamrixExe', '[TAMRIXDIR]', 0)"
     "CREATE TABLE `CCPSearch` (`Signature_` CHAR(72) NOT NULL PRIMARY KEY `Signature_`)"
     "INSERT INTO `CCPSearch` (`Signature_`) VALUES ('TamrixExe')"
     "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('TamrixDirDefault', 51, 'TAMRIXDIR', '[ProgramFiles64Folder]Tamrix\\')"
     "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('TamrixDirDefault', 'NOT TAMRIXDIR', 101)"
     "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('CCPSearch', 102)"
     "INSERT INTO `CustomAction` (`Action`, `Type`, `Target`) VALUES ('Missing.TAMRIXDIR', 19, 'TAMRIXDIR=[TAMRIXDIR] is refused: it holds no Tamrix.exe.')"
     "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('Missing.TAMRIXDIR', 'NOT Installed AND NOT CCP_Success', 103)"
     # The metrics folder only where it is new and TEXTFILE_FOLDER a full path: the grants would
     # replace those of a folder that is there (C:\ProgramData, say).
     "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('METRICSFOLDERFOUND', 'MetricsFolder')"
     "INSERT INTO `DrLocator` (`Signature_`, `Path`, `Depth`) VALUES ('MetricsFolder', '[TEXTFILE_FOLDER]', 0)"
     "UPDATE `Component` SET `Condition` = 'TEXTFILE_FOLDER >< \":\\\" AND NOT METRICSFOLDERFOUND', `Attributes` = 272 WHERE `Component` = 'Metrics'"
     "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('MetricsDir', 35, 'METRICSDIR', '[TEXTFILE_FOLDER]')"
     "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('MetricsDir', 'TEXTFILE_FOLDER >< \":\\\" AND NOT METRICSFOLDERFOUND', 1001)"
     # The settings file: kept through upgrades and uninstalls (permanent, 16), and never put over
     # one that is there (128): the user's values win.
     "UPDATE `Component` SET `Attributes` = 400 WHERE `Component` = 'KorvelIni'"
     # wixl writes the event source's path as a plain string; the README's reg add makes it
     # REG_EXPAND_SZ, as the Event Log expects.
     "UPDATE `Registry` SET `Value` = '#%[#korvel.exe]' WHERE `Name` = 'EventMessageFile'")
foreach(query IN LISTS queries)
  run_query("${query}")
endforeach()
message(STATUS "${OUTPUT}")
