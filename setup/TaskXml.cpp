#include "TaskXml.h"

#include "Errors.h"

namespace {

// A folder name may hold "&", which XML text reads as the start of an entity.
std::string EscapedText(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// The text between <element> and </element> replaced by content; there must be exactly one.
void ReplaceText(std::string& xml, std::string_view element, std::string_view content) {
    const std::string open = "<" + std::string(element) + ">";
    const std::string close = "</" + std::string(element) + ">";
    const std::size_t begin = xml.find(open);
    const std::size_t end = begin == std::string::npos ? begin : xml.find(close, begin);
    if (end == std::string::npos || xml.find(open, end) != std::string::npos)
        throw Exception("The task holds no single " + std::string(element) + " element");
    xml.replace(begin + open.size(), end - begin - open.size(), content);
}

} // namespace

std::string TaskXmlFor(std::string_view xml, std::string_view folder) {
    std::string task(xml);
    const std::string escaped = EscapedText(folder);
    // Quoted: a blank in the path would otherwise end the program's name.
    ReplaceText(task, "Command", "\"" + escaped + "\\korvel.exe\"");
    ReplaceText(task, "WorkingDirectory", escaped);
    return task;
}
