#include "ftpreply.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

std::uint32_t ftpReplyCode(std::string_view line)
{
    if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2]))
        return 0;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-')
        return 0;
    return std::uint32_t((line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0'));
}

void FtpReplyParser::feed(std::string_view data)
{
    m_pending.append(data);
    std::size_t start = 0, nl;
    while ((nl = m_pending.find('\n', start)) != std::string::npos) {
        std::string_view line(m_pending.data() + start, nl - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        take(line);
        start = nl + 1;
    }
    m_pending.erase(0, start);
    if (m_pending.size() > maxReplyText) // a line without end: its start is enough
        m_pending.resize(maxReplyText);
}

void FtpReplyParser::clear()
{
    m_replies.clear();
    m_pending.clear();
    m_open.clear();
    m_openCode = 0;
}

void FtpReplyParser::appendOpen(std::string_view line)
{
    if (m_open.size() >= maxReplyText)
        return;
    m_open.append(line.substr(0, maxReplyText - m_open.size()));
}

void FtpReplyParser::take(std::string_view line)
{
    const std::uint32_t code = ftpReplyCode(line);
    if (m_openCode) {
        appendOpen("\r\n");
        appendOpen(line);
        if (code == m_openCode && (line.size() == 3 || line[3] == ' ')) {
            m_replies.push_back({m_openCode, std::move(m_open)});
            m_open.clear();
            m_openCode = 0;
        }
        return;
    }
    if (!code)
        return;
    if (line.size() > 3 && line[3] == '-') {
        m_openCode = code;
        m_open.clear();
        appendOpen(line);
    } else {
        m_replies.push_back({code, std::string(line.substr(0, maxReplyText))});
    }
}
