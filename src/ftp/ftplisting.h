#pragma once
// FTP directory listings, text in, entries out: no I/O, so it is tested row by row and fuzzed.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct FtpListEntry {
    std::string name; // UTF-8, whole, exactly as listed (no path check here)
    bool directory = false;
    std::uint64_t size = 0; // 0 when not given
};

enum class FtpListingFormat {
    Mlsd, // RFC 3659 machine listing
    List, // LIST: Unix "ls -l" or DOS/IIS lines, told apart line by line
};

// Every entry in server order; lines that describe the directory itself or its parent (MLSD
// cdir/pdir, and in any format the names "." and ".."), and
// lines that are not entries (totals, garbage, a last line cut before its name), are left out. CRLF
// or LF line ends.
std::vector<FtpListEntry> parseFtpListing(std::string_view text, FtpListingFormat format);

// A name's bytes as UTF-8: kept when they already are valid UTF-8, else read as Latin-1.
std::string ftpNameToUtf8(std::string_view bytes);
bool isValidUtf8(std::string_view bytes);
