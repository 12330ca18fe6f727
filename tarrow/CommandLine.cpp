#include "CommandLine.h"

namespace {

bool IsSeparator(char c) noexcept {
    const auto code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

// Reads one argument from p into argument and gives where the next one is looked for. The end of
// the text gives an empty argument.
const char* ReadArgument(const char* p, const char* end, std::string& argument,
                         const TNextChar& nextChar) {
    for (;;) {
        // Separators and quotes are below 128, so never part of a multi-byte character: one byte.
        while (IsSeparator(*p))
            ++p;
        if (p[0] == '"' && p[1] == '"')
            p += 2;
        else
            break;
    }
    argument.clear();
    bool quoted = false;
    while (*p != '\0') {
        if (*p == '"') {
            quoted = !quoted;
            ++p;
            continue;
        }
        if (!quoted && IsSeparator(*p))
            break;
        const char* next = nextChar(p);
        // A step that does not move would loop for ever, and one past the end would read beyond
        // the text: keep it within the text.
        if (next <= p)
            next = p + 1;
        if (next > end)
            next = end;
        argument.append(p, next);
        p = next;
    }
    return p;
}

} // namespace

const char* NextByte(const char* p) noexcept {
    return *p == '\0' ? p : p + 1;
}

const char* NextUtf8Char(const char* p) noexcept {
    if (*p == '\0')
        return p;
    do
        ++p;
    while ((static_cast<unsigned char>(*p) & 0xC0) == 0x80);
    return p;
}

TCommandLine::TCommandLine(const std::string& text, const TNextChar& nextChar) {
    const char* const end = text.c_str() + text.size();
    std::string argument;
    const char* p = ReadArgument(text.c_str(), end, argument, nextChar);
    FArguments.push_back(argument);
    for (;;) {
        p = ReadArgument(p, end, argument, nextChar);
        if (argument.empty())
            break;
        FArguments.push_back(argument);
    }
}

const std::string& TCommandLine::ParamStr(int index) const noexcept {
    static const std::string empty;
    if (index < 0 || index >= static_cast<int>(FArguments.size()))
        return empty;
    return FArguments[index];
}
