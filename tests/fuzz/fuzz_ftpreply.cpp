// libFuzzer entry over the FTP reply parser: any bytes, fed whole and in pieces.
#include "ftpreply.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    FtpReplyParser whole, pieces;
    whole.feed(text);
    const std::size_t step = size ? 1 + data[0] % 7 : 1;
    for (std::size_t at = 0; at < size; at += step)
        pieces.feed(text.substr(at, step));
    // The pieces a reply arrives in never change what is read; every reply starts with its code.
    if (whole.replies().size() != pieces.replies().size())
        __builtin_trap();
    for (std::size_t i = 0; i < whole.replies().size(); ++i) {
        const FtpReply &r = whole.replies()[i];
        if (r.text != pieces.replies()[i].text || r.code > 999 ||
            ftpReplyCode(r.text) != r.code || r.text.size() > FtpReplyParser::maxReplyText)
            __builtin_trap();
    }
    return 0;
}
