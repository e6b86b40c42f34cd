#pragma once
// FTP control-connection replies, bytes in, complete replies out: no I/O, so it is tested row by
// row and fuzzed.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct FtpReply {
    std::uint32_t code = 0; // 100 to 599 as sent; 0 for none
    std::string text;       // the reply's lines as sent, CR LF between them, no line end after
};

// Collects the complete replies of one exchange from the server's lines, fed in any pieces.
// Lines that are not FTP replies (an HTTP proxy's answer to CONNECT) are skipped; a multi-line
// reply ends at "NNN " with its own number. A reply's text is cut at maxReplyText bytes, and a
// line that never ends at maxReplyText, so a server can't grow it without bound.
class FtpReplyParser {
public:
    static constexpr std::size_t maxReplyText = 64 * 1024;

    void feed(std::string_view data);
    const std::vector<FtpReply> &replies() const { return m_replies; }
    void clear();

private:
    void take(std::string_view line);
    void appendOpen(std::string_view line);

    std::string m_pending;
    std::string m_open;
    std::uint32_t m_openCode = 0;
    std::vector<FtpReply> m_replies;
};

// The number a reply line starts with ("NNN" alone, "NNN " or "NNN-"), else 0.
std::uint32_t ftpReplyCode(std::string_view line);
