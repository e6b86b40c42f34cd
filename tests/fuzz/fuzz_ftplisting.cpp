// libFuzzer entry over the FTP listing parser: any bytes, both formats.
#include "ftplisting.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    for (const auto format : {FtpListingFormat::Mlsd, FtpListingFormat::List}) {
        for (const auto &entry : parseFtpListing(text, format)) {
            // Names are whole, never empty, never the folder itself, and always UTF-8.
            if (entry.name.empty() || entry.name == "." || entry.name == ".." ||
                !isValidUtf8(entry.name))
                __builtin_trap();
        }
    }
    return 0;
}
