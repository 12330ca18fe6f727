// The logon task as the package registers it: the task that ships (res/korvel-task.xml) names
// korvel.exe in C:\Program Files\Tamrix\korvel, and the package installs wherever TAMRIXDIR says.
// Pure: no Windows headers.
#pragma once

#include <string>
#include <string_view>

// The task's XML (as UTF-8 text) with its program and working directory in folder, the full path
// of the folder of the installed korvel.exe (no trailing "\"), escaped as XML text requires. Raises
// Exception when the task names no program or no working directory: the XML is not the task.
std::string TaskXmlFor(std::string_view xml, std::string_view folder);
