# Builds korvel's Windows Installer package from res/korvel.wxs on the build host:
#   cmake -DWIXL=<wixl> -DMSIBUILD=<msibuild> -DSTRIP=<strip> -DSOURCE_DIR=<repository>
#         -DKORVEL_EXE=<korvel.exe> -DKORVEL_INI=<korvel.ini> -DVERSION=<x.y.z> -DOUTPUT=<.msi>
#         -P Msi.cmake
# wixl writes the tables it knows; msibuild then adds what it lacks: the conditions of the
# setting components, the korvel.ini entries, the permissions, and the attributes wixl drops.
foreach(variable WIXL MSIBUILD STRIP SOURCE_DIR KORVEL_EXE KORVEL_INI VERSION OUTPUT)
  if(NOT ${variable})
    message(FATAL_ERROR "${variable} is not set (wixl and msibuild: tools/ensure-deps.sh)")
  endif()
endforeach()

# One public property per setting that an administrator gives at install, and the korvel.ini
# entry it writes: property, section, key.
set(settings
    STARTUP_TIMEOUT Options startup_timeout
    MAIN_TIMEOUT Options main_timeout
    BUSY_TIMEOUT Options busy_timeout
    CALL_STREAM_TIMEOUT Options call_stream_timeout
    AUTO_EXIT Options auto_exit
    HANG_DUMP Recovery hang_dump
    HANG_DUMP_KEEP Recovery hang_dump_keep
    RESTART_ON_EXIT Recovery restart_on_exit
    CLOSE_TIMEOUT Recovery close_timeout
    HANG_STACK Recovery hang_stack
    LOG_MAX_SIZE_KB Log max_size_kb
    LOG_KEEP Log keep
    EVENT_LOG Log event_log
    PER_SESSION_LOG Log per_session
    TEXTFILE_FOLDER Metrics textfile_folder)

get_filename_component(folder ${OUTPUT} DIRECTORY)
get_filename_component(name ${OUTPUT} NAME_WLE)
set(work ${folder}/${name}-work)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})

# Each entry is a component of its own, installed only when its property is given, and permanent:
# neither an uninstall nor the removal of an older version during an upgrade takes the entry out
# of the user's korvel.ini. Its id must stay the same in every version, so it derives from the
# property's name.
set(components "")
set(queries "")
set(namespace 7D1C9E4B-5A63-4F0E-9B2D-6C8A1E3F4B57)
list(LENGTH settings count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 3)
  math(EXPR j "${i} + 1")
  math(EXPR k "${i} + 2")
  list(GET settings ${i} property)
  list(GET settings ${j} section)
  list(GET settings ${k} key)
  string(UUID guid NAMESPACE ${namespace} NAME ${property} TYPE SHA1 UPPER)
  string(APPEND components
         "      <Component Id=\"Ini.${property}\" Guid=\"${guid}\" Win64=\"yes\"/>\n")
  # Attributes: 64-bit (256) and permanent (16).
  list(APPEND queries
       "UPDATE `Component` SET `Condition` = '${property}', `Attributes` = 272 WHERE `Component` = 'Ini.${property}'"
       "INSERT INTO `IniFile` (`IniFile`, `FileName`, `DirProperty`, `Section`, `Key`, `Value`, `Action`, `Component_`) VALUES ('Ini.${property}', 'korvel.ini', 'KORVELDIR', '${section}', '${key}', '[${property}]', 0, 'Ini.${property}')")
endforeach()
file(WRITE ${work}/settings.wxs
     "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
     "<!-- Made by cmake/Msi.cmake. -->\n"
     "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n  <Fragment>\n"
     "    <ComponentGroup Id=\"Settings\" Directory=\"KORVELDIR\">\n${components}"
     "    </ComponentGroup>\n  </Fragment>\n</Wix>\n")

# What ships, in the work folder: wixl takes only relative source paths. The executable without its
# debug information.
file(COPY_FILE ${KORVEL_INI} ${work}/korvel.ini)
execute_process(COMMAND ${STRIP} -o ${work}/korvel.exe ${KORVEL_EXE} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${STRIP} could not strip ${KORVEL_EXE}")
endif()

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

# Who may write what, by well-known SID, so that the package works in every display language
# (the older LockPermissions table takes account names). korvel's folder, whatever TAMRIXDIR
# names, takes nothing from its parent (a folder under C:\ would pass on write access for
# Authenticated Users): Users may read and run korvel.exe, never put a file beside it. korvel.ini
# adds write access for Users, but not delete: the file stays. logs\ lets Users add files and
# folders, and change what is in it, but not delete the folder itself. A table of its own, in
# msibuild's text form: the descriptors hold semicolons, which a CMake list would split.
string(CONCAT locks
       "MsiLockPermissionsEx\tLockObject\tTable\tSDDLText\tCondition\n"
       "s72\ts72\ts32\ts0\tS255\n"
       "MsiLockPermissionsEx\tMsiLockPermissionsEx\n"
       "Lock.KORVELDIR\tKORVELDIR\tCreateFolder\t"
       "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)\t\n"
       "Lock.korvel.ini\tkorvel.ini\tFile\tD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFW;;;BU)\t\n"
       "Lock.LOGSDIR\tLOGSDIR\tCreateFolder\t"
       "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200af;;;BU)(A;OICIIO;0x1301bf;;;BU)\t\n")
file(WRITE ${work}/MsiLockPermissionsEx.idt "${locks}")
execute_process(COMMAND ${MSIBUILD} ${OUTPUT} -i ${work}/MsiLockPermissionsEx.idt
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "msibuild could not add the permissions:\n${output}")
endif()

list(PREPEND queries
     "CREATE TABLE `IniFile` (`IniFile` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL LOCALIZABLE, `DirProperty` CHAR(72), `Section` CHAR(96) NOT NULL LOCALIZABLE, `Key` CHAR(128) NOT NULL LOCALIZABLE, `Value` CHAR(255) NOT NULL LOCALIZABLE, `Action` INT NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY `IniFile`)"
     "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveIniValues', 3100)"
     "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteIniValues', 5100)"
     # The settings file: kept through upgrades and uninstalls (permanent, 16), and never put over
     # one that is there (128): the user's values win.
     "UPDATE `Component` SET `Attributes` = 400 WHERE `Component` = 'KorvelIni'"
     # wixl writes the event source's path as a plain string; the README's reg add makes it
     # REG_EXPAND_SZ, as the Event Log expects.
     "UPDATE `Registry` SET `Value` = '#%[#korvel.exe]' WHERE `Name` = 'EventMessageFile'")
foreach(query IN LISTS queries)
  execute_process(COMMAND ${MSIBUILD} ${OUTPUT} -q "${query}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild refused\n  ${query}\n${output}")
  endif()
endforeach()
message(STATUS "${OUTPUT}")
