// Decodes CP932 with glibc's iconv, a converter independent of the one the pages are written with.
#pragma once

#include <iconv.h>

#include <stdexcept>
#include <string>

namespace zenfo::test {

inline std::string FromCp932(const std::string& bytes) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no CP932 in iconv");
    std::string in = bytes;
    std::string out(bytes.size() * 4 + 4, '\0');
    char* inp = in.data();
    char* outp = out.data();
    size_t inLeft = in.size();
    size_t outLeft = out.size();
    size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) throw std::runtime_error("not CP932");
    out.resize(out.size() - outLeft);
    return out;
}

// Joins lines, each followed by CR LF.
inline std::string CrLfLines(std::initializer_list<std::string> lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\r\n";
    return out;
}

}  // namespace zenfo::test
