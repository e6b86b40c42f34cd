#include "ftpurl.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

bool splitHostPort(std::string_view server, std::string &host, std::string_view &portText)
{
    portText = {};
    if (!server.empty() && server.front() == '[') {
        const auto close = server.find(']');
        if (close == std::string_view::npos)
            return false;
        const std::string_view after = server.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':' || after.size() == 1)
                return false;
            portText = after.substr(1);
        }
        host = std::string(server.substr(1, close - 1));
        return true;
    }
    if (std::count(server.begin(), server.end(), ':') == 1) {
        const auto colon = server.find(':');
        portText = server.substr(colon + 1);
        host = std::string(server.substr(0, colon));
        return !portText.empty();
    }
    host = std::string(server);
    return true;
}

} // namespace

std::uint16_t defaultPort(RemoteScheme scheme)
{
    switch (scheme) {
    case RemoteScheme::Ftps: return 990;
    case RemoteScheme::Sftp: return 22;
    default: return 21;
    }
}

const char *schemeName(RemoteScheme scheme)
{
    switch (scheme) {
    case RemoteScheme::Ftpes: return "ftpes";
    case RemoteScheme::Ftps: return "ftps";
    case RemoteScheme::Sftp: return "sftp";
    default: return "ftp";
    }
}

std::string RemoteServer::authority() const
{
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool serverAuthority(std::string_view server, std::uint16_t port, std::string &authority,
                     std::uint16_t fallbackPort)
{
    std::string host;
    std::string_view portText;
    if (!splitHostPort(server, host, portText) || host.empty())
        return false;
    long p = port ? port : fallbackPort;
    if (!portText.empty()) {
        if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(),
                                                [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        p = std::stol(std::string(portText));
        if (p <= 0 || p > 65535)
            return false;
    }
    const bool v6 = host.find(':') != std::string::npos;
    for (unsigned char c : host)
        if (c <= ' ' || c == 0x7f || std::strchr("/?#@[]\\%\"<>`{}|^", c) || (c == ':' && !v6))
            return false;
    authority = (v6 ? "[" + host + "]" : host) + ":" + std::to_string(p);
    return true;
}

ServerTextError parseServerText(std::string_view text, std::uint16_t port, RemoteServer &server)
{
    RemoteServer s;
    const auto sep = text.find("://");
    if (sep != std::string_view::npos) {
        const std::string_view name = text.substr(0, sep);
        bool known = false;
        for (auto scheme :
             {RemoteScheme::Ftp, RemoteScheme::Ftpes, RemoteScheme::Ftps, RemoteScheme::Sftp})
            if (name.size() == std::strlen(schemeName(scheme)) &&
                startsWithNoCase(name, schemeName(scheme))) {
                s.scheme = scheme;
                known = true;
            }
        if (!known)
            return ServerTextError::UnknownScheme;
        text.remove_prefix(sep + 3);
    }
    if (!text.empty() && text.back() == '/') // a pasted "ftp://host/"
        text.remove_suffix(1);
    std::string authority;
    if (!serverAuthority(text, port, authority, defaultPort(s.scheme)))
        return ServerTextError::BadAuthority;
    const auto colon = authority.rfind(':');
    s.port = std::uint16_t(std::stoi(authority.substr(colon + 1)));
    s.host = authority.substr(0, colon);
    if (s.host.front() == '[')
        s.host = s.host.substr(1, s.host.size() - 2);
    server = std::move(s);
    return ServerTextError::None;
}

std::string percentEncode(std::string_view path, bool keepSlash)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size() * 3);
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' ||
            (c == '/' && keepSlash)) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool hasControlCharacters(std::string_view s)
{
    return std::any_of(s.begin(), s.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c < 0x20 || c == 0x7f;
    });
}

std::string joinRemote(std::string_view directory, std::string_view name)
{
    if (!name.empty() && name.front() == '/')
        return std::string(name);
    if (directory.empty() || directory.back() == '/')
        return std::string(directory) + std::string(name);
    return std::string(directory) + "/" + std::string(name);
}

std::string pathOf257(std::string_view text)
{
    const auto open = text.find('"');
    if (open == std::string_view::npos)
        return {};
    std::string path;
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        if (text[i] == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"') {
                path += '"';
                ++i;
                continue;
            }
            return path;
        }
        path += text[i];
    }
    return {};
}
