// The one pair of conversions between the program's text (UTF-8 in every std::string that holds a
// path, a file name, a command line or a message) and the wide text of the Win32 calls (UTF-16).
// Called at the border only, right beside the W call. Pure: no Windows headers.
//
// Neither ever fails, stops early or throws anything but std::bad_alloc:
// - Windows file names may hold a UTF-16 unit that pairs with nothing (an unpaired surrogate).
//   Utf16ToUtf8 writes such a unit as the three bytes its code point would take (the generalized
//   UTF-8 known as WTF-8) and Utf8ToUtf16 reads those bytes back as that unit, so a name that came
//   from the system reaches the system again unchanged.
// - Any other byte sequence that is not UTF-8 (a stray continuation byte, a sequence cut short, an
//   overlong form, a code point beyond U+10FFFF, the bytes C0, C1, F5 to FF) becomes one U+FFFD
//   per byte that cannot be read, and the rest of the text is read on from the next byte: a
//   broken text stays visibly broken, and nothing after the fault is lost.
#pragma once

#include <string>
#include <string_view>

std::wstring Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::wstring_view text);
