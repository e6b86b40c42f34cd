#include "terminaltext.h"

#include <cstdint>

namespace {

// The length of the valid UTF-8 sequence at text[i], or 0.
std::size_t utf8Length(std::string_view text, std::size_t i)
{
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char c = b(0);
    std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (!n || i + n > text.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((b(k) & 0xC0) != 0x80)
            return 0;
    // No overlong forms, no surrogates, nothing above U+10FFFF.
    if ((c == 0xE0 && b(1) < 0xA0) || (c == 0xED && b(1) >= 0xA0) || (c == 0xF0 && b(1) < 0x90) ||
        (c == 0xF4 && b(1) >= 0x90))
        return 0;
    return n;
}

void octal(std::string &out, unsigned char c)
{
    out += '\\';
    out += char('0' + (c >> 6));
    out += char('0' + ((c >> 3) & 7));
    out += char('0' + (c & 7));
}

} // namespace

std::string escapeForTerminal(std::string_view text)
{
    static const char named[] = "abtnvfr"; // for 7 to 13
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 7 && c <= 13) {
            out += '\\';
            out += named[c - 7];
        } else if (c < 0x20 || c == 0x7f) {
            octal(out, c);
        } else if (c >= 0x80) {
            const std::size_t n = utf8Length(text, i);
            const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
            if (!n || c1) {
                for (std::size_t k = 0; k < (n ? n : 1); ++k)
                    octal(out, static_cast<unsigned char>(text[i + k]));
            } else {
                out.append(text.substr(i, n));
            }
            i += n ? n : 1;
            continue;
        } else {
            out += char(c);
        }
        ++i;
    }
    return out;
}
