#include "album/text.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>

#include <cstdio>
#include <memory>

namespace zenfo {

namespace {

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// One strict CP932 converter per thread: unmappable characters and bad bytes stop it, and no
// fallback mapping is used, so whatever it converts reads back as the same character.
UConverter* Cp932() {
    thread_local ConverterPtr converter = [] {
        UErrorCode status = U_ZERO_ERROR;
        ConverterPtr c(ucnv_open("windows-31j", &status));
        if (U_FAILURE(status) || !c) return ConverterPtr();
        ucnv_setFallback(c.get(), false);
        ucnv_setFromUCallBack(c.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                              &status);
        ucnv_setToUCallBack(c.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
        return c;
    }();
    return converter.get();
}

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Reads one UTF-8 character at pos; returns kInvalid (and consumes one byte) on a bad sequence.
char32_t NextCodePoint(std::string_view s, std::size_t& pos) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char b0 = byte(pos);
    int len = 0;
    char32_t cp = 0;
    if (b0 < 0x80) {
        ++pos;
        return b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07;
    } else {
        ++pos;
        return kInvalid;
    }
    if (pos + len > s.size()) {
        ++pos;
        return kInvalid;
    }
    for (int i = 1; i < len; ++i) {
        unsigned char b = byte(pos + i);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return kInvalid;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return kInvalid;
    }
    pos += len;
    return cp;
}

// Appends the CP932 bytes of cp to out; false when CP932 cannot hold it.
bool AppendCp932(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
        return true;
    }
    UConverter* conv = Cp932();
    if (!conv) return false;
    UChar units[2];
    int32_t count = 0;
    if (cp >= 0x10000) {
        units[0] = static_cast<UChar>(0xD7C0 + (cp >> 10));
        units[1] = static_cast<UChar>(0xDC00 | (cp & 0x3FF));
        count = 2;
    } else {
        units[0] = static_cast<UChar>(cp);
        count = 1;
    }
    char buffer[8];
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetFromUnicode(conv);
    int32_t n = ucnv_fromUChars(conv, buffer, sizeof buffer, units, count, &status);
    if (U_FAILURE(status) || n <= 0) return false;
    out.append(buffer, static_cast<std::size_t>(n));
    return true;
}

std::string CharacterReference(char32_t cp) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "&#x%X;", static_cast<unsigned>(cp));
    return buffer;
}

void AppendPercent(unsigned char byte, std::string& out) {
    static const char kHex[] = "0123456789ABCDEF";
    out.push_back('%');
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0x0F]);
}

// Appends one character of text as it goes into a page: CP932, else a character reference.
void AppendTextChar(char32_t cp, std::string& out) {
    if (cp == kInvalid) {
        out += CharacterReference(0xFFFD);
    } else if (!AppendCp932(cp, out)) {
        out += CharacterReference(cp);
    }
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (NextCodePoint(bytes, pos) == kInvalid) return false;
    }
    return true;
}

std::string ToCp932Text(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) AppendTextChar(NextCodePoint(utf8, pos), out);
    return out;
}

std::string CutToCp932Bytes(std::string_view utf8, std::size_t maxBytes) {
    std::string encoded;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        std::size_t start = pos;
        AppendTextChar(NextCodePoint(utf8, pos), encoded);
        if (encoded.size() > maxBytes) return std::string(utf8.substr(0, start));
    }
    return std::string(utf8);
}

std::string ToCp932Link(std::string_view fileName) {
    std::string out;
    if (!IsValidUtf8(fileName)) {
        // Only the exact bytes on disk resolve: ask for each of them.
        for (char c : fileName) AppendPercent(static_cast<unsigned char>(c), out);
        return out;
    }
    std::size_t pos = 0;
    while (pos < fileName.size()) {
        std::size_t start = pos;
        char32_t cp = NextCodePoint(fileName, pos);
        if (cp < 0x80) {
            bool special = cp < 0x20 || cp == 0x7F || cp == '%' || cp == '#' || cp == '?' ||
                           cp == '&' || cp == '\\' || cp == '"' || cp == '<' || cp == '>';
            if (special) {
                AppendPercent(static_cast<unsigned char>(cp), out);
            } else {
                out.push_back(static_cast<char>(cp));
            }
        } else if (!AppendCp932(cp, out)) {
            for (std::size_t i = start; i < pos; ++i) {
                AppendPercent(static_cast<unsigned char>(fileName[i]), out);
            }
        }
    }
    return out;
}

std::string ToCp932EscapedText(std::string_view fileName) {
    std::string escaped;
    escaped.reserve(fileName.size());
    for (char c : fileName) {
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
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped.push_back(c);
        }
    }
    return ToCp932Text(escaped);
}

std::string DisplayName(std::string_view diskName) {
    if (IsValidUtf8(diskName)) return std::string(diskName);
    UConverter* conv = Cp932();
    if (conv) {
        std::u16string units(diskName.size() + 1, u'\0');
        UErrorCode status = U_ZERO_ERROR;
        ucnv_resetToUnicode(conv);
        int32_t n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(units.data()),
                                  static_cast<int32_t>(units.size()), diskName.data(),
                                  static_cast<int32_t>(diskName.size()), &status);
        if (U_SUCCESS(status)) {
            std::string out(static_cast<std::size_t>(n) * 3, '\0');
            int32_t length = 0;
            u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &length,
                        reinterpret_cast<const UChar*>(units.data()), n, &status);
            if (U_SUCCESS(status)) {
                out.resize(static_cast<std::size_t>(length));
                return out;
            }
        }
    }
    std::string out;
    std::size_t pos = 0;
    while (pos < diskName.size()) {
        std::size_t start = pos;
        if (NextCodePoint(diskName, pos) == kInvalid) {
            out += "\xEF\xBF\xBD";
        } else {
            out.append(diskName.substr(start, pos - start));
        }
    }
    return out;
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    return out;
}

std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
    }
    return out;
}

}  // namespace zenfo
