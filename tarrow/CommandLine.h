// TCommandLine: tarrow's command-line splitting. Pure: the step to the next character comes in as
// a function (NextUtf8Char in the product, which reads the command line as UTF-8), so the rules
// are tested with any multi-byte encoding.
//
// Rules: separators are the codes 1 to 32; a pair of double quotes where an argument would start
// is skipped, so it makes no argument; double quotes open and close quoted stretches, in which
// separators are text, and are themselves dropped (there is no escape); touching quoted and
// unquoted stretches form one argument. A multi-byte character is stepped over whole, so none of
// its bytes counts as a separator or a quote.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Gives the start of the character after the one at p, or p itself at the terminating zero.
using TNextChar = std::function<const char*(const char*)>;

// The single-byte step: every byte is one character.
const char* NextByte(const char* p) noexcept;

// The UTF-8 step: a lead byte and the continuation bytes after it are one character.
const char* NextUtf8Char(const char* p) noexcept;

class TCommandLine {
public:
    // Splits text at once; nextChar is used only during the construction.
    explicit TCommandLine(const std::string& text, const TNextChar& nextChar = NextByte);

    // The arguments after the tool's own name that come before the first empty one.
    int ParamCount() const noexcept { return static_cast<int>(FArguments.size()) - 1; }
    // 0 is the tool's own name as started; an index beyond ParamCount() gives an empty text.
    const std::string& ParamStr(int index) const noexcept;

private:
    std::vector<std::string> FArguments;
};
