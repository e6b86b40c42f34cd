#pragma once
// Server texts, remote paths and URL pieces: pure text functions, tested row by row and fuzzed.

#include <cstdint>
#include <string>
#include <string_view>

// The transport a server text's prefix names.
enum class RemoteScheme {
    Ftp,   // "ftp://" or no prefix: plain FTP, port 21
    Ftpes, // "ftpes://": FTP with explicit TLS required, port 21
    Ftps,  // "ftps://": FTP with implicit TLS, port 990
    Sftp,  // "sftp://": SSH file transfer, port 22
};

struct RemoteServer {
    RemoteScheme scheme = RemoteScheme::Ftp;
    std::string host;       // without brackets; an IPv6 address as written
    std::uint16_t port = 0; // never 0 after a successful parse
    // "host:port" or "[v6]:port", ready for a URL.
    std::string authority() const;
};

enum class ServerTextError { None, UnknownScheme, BadAuthority };

std::uint16_t defaultPort(RemoteScheme scheme);
// "ftp", "ftpes", "ftps", "sftp".
const char *schemeName(RemoteScheme scheme);

// [scheme "://"] authority ["/"]: authority is "host", "host:port", "[v6]", "[v6]:port" or a bare
// IPv6 address. port, when not 0, stands for a port the text does not name; else the scheme's
// default applies.
ServerTextError parseServerText(std::string_view text, std::uint16_t port, RemoteServer &server);

// The authority part alone (no scheme) → "host:port" for a URL; false when it is not one.
bool serverAuthority(std::string_view server, std::uint16_t port, std::string &authority,
                     std::uint16_t fallbackPort = 21);

// Percent-encodes all but unreserved characters (and "/" when keepSlash).
std::string percentEncode(std::string_view path, bool keepSlash = true);
// Any C0 control character or DEL.
bool hasControlCharacters(std::string_view s);
// name when it is absolute, else name below directory.
std::string joinRemote(std::string_view directory, std::string_view name);
// The name between the quotes of a 257 reply, doubled quotes standing for one; empty when the
// quotes are missing or not closed.
std::string pathOf257(std::string_view text);
