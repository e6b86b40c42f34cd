// libFuzzer entry over the server-text, path and 257-reply helpers: any bytes.
#include "ftpurl.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    RemoteServer server;
    if (parseServerText(text, 0, server) == ServerTextError::None) {
        // What goes into a URL carries nothing that could end or redirect it.
        const std::string authority = server.authority();
        if (server.port == 0 || server.host.empty() || hasControlCharacters(authority) ||
            authority.find_first_of("/@?# ") != std::string::npos)
            __builtin_trap();
        RemoteServer again;
        if (parseServerText(std::string(schemeName(server.scheme)) + "://" + authority, 0, again) !=
                ServerTextError::None ||
            again.authority() != authority || again.scheme != server.scheme)
            __builtin_trap();
    }
    const std::string encoded = percentEncode(text, false);
    if (encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                  "0123456789-._~%") != std::string::npos)
        __builtin_trap();
    if (pathOf257(text).size() > text.size())
        __builtin_trap();
    const std::string joined = joinRemote(text.substr(0, size / 2), text.substr(size / 2));
    if (joined.size() > size + 1)
        __builtin_trap();
    return 0;
}
