// Path text rules on Windows paths ("\" and ":" as separators). Pure: no Windows headers.
#pragma once

#include <string>
#include <string_view>

// The extension is the text from the last "." after the last "\" or ":"; it is replaced by
// newExtension, or newExtension is appended when there is none.
std::string ChangeFileExt(std::string_view path, std::string_view newExtension);

// What follows the last "\" or ":".
std::string_view ExtractFileName(std::string_view path) noexcept;

// The folder of a path without a trailing "\", except that a drive root keeps it ("C:\").
std::string_view ExtractFileDir(std::string_view path) noexcept;

// Whether two file names are the same, letter case not compared (ASCII letters only: a byte of
// another code page is never the same letter in another case).
bool SameFileName(std::string_view a, std::string_view b) noexcept;

// A file name without its extension (from its last "."); a name without a dot stays whole.
std::string_view StripExtension(std::string_view fileName) noexcept;
