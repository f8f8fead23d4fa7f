#include "platform/AnsiText.h"

#include <iconv.h>

#include <cerrno>

namespace valdrune {

namespace {

const char* IconvName(unsigned codePage) {
    switch (codePage) {
        case 932:
            return "CP932";
        case 936:
            return "CP936";
        default:
            return "CP1252";
    }
}

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

std::string AnsiToUtf8(std::string_view bytes, unsigned codePage) {
    iconv_t cd = iconv_open("UTF-8", IconvName(codePage));
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // No converter: keep ASCII, mark the rest.
        std::string out;
        for (char c : bytes)
            out += static_cast<unsigned char>(c) < 0x80 ? std::string(1, c) : kReplacement;
        return out;
    }
    std::string out;
    char buffer[256];
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* o = buffer;
        std::size_t oLeft = sizeof buffer;
        const std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buffer, static_cast<std::size_t>(o - buffer));
        if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        // EILSEQ (a byte the code page does not map) or EINVAL (a lead byte at the end).
        out += kReplacement;
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

}  // namespace valdrune
