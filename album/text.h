// Text conversions: UTF-8 inside the program, Windows-31J (CP932) in the pages.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zenfo {

// CP932 bytes of UTF-8 text; a character CP932 cannot hold becomes a numeric character
// reference such as "&#x1F600;", and an invalid UTF-8 byte becomes "&#xFFFD;".
std::string ToCp932Text(std::string_view utf8);

// The longest prefix of utf8 whose CP932 form (as ToCp932Text writes it) has at most maxBytes
// bytes; never cuts inside a character.
std::string CutToCp932Bytes(std::string_view utf8, std::size_t maxBytes);

// CP932 bytes of a file name for an href or src attribute: "%", "#", "?", "&", "\", the double
// quote, "<", ">", control bytes and characters CP932 cannot hold (as their UTF-8 bytes) are
// percent-encoded; a name that is not valid UTF-8 is percent-encoded byte for byte.
std::string ToCp932Link(std::string_view fileName);

// CP932 bytes of a file name shown as text, with "&", "<", ">" and the double quote as entities.
std::string ToCp932EscapedText(std::string_view fileName);

// A file name from disk as UTF-8 for showing: valid UTF-8 as it stands, otherwise read as CP932
// when that is valid, otherwise with each bad byte replaced by U+FFFD.
std::string DisplayName(std::string_view diskName);

// Whether bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// Changes the ASCII letters A-Z to a-z and nothing else.
std::string AsciiLower(std::string_view text);
// Changes the ASCII letters a-z to A-Z and nothing else.
std::string AsciiUpper(std::string_view text);

}  // namespace zenfo
