#include "ftplisting.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {

bool iequals(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool allDigits(std::string_view s)
{
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::uint64_t toSize(std::string_view s)
{
    std::uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9' || v > (UINT64_MAX - 9) / 10)
            return 0;
        v = v * 10 + std::uint64_t(c - '0');
    }
    return v;
}

// "type=dir;Size=12;modify=2020...; name": facts in any order and case, one blank, the name.
bool parseMlsdLine(std::string_view line, FtpListEntry &entry)
{
    std::string_view facts;
    std::string_view name;
    if (line.front() == ' ') {
        name = line.substr(1); // no facts at all
    } else {
        const auto gap = line.find("; ");
        if (gap == std::string_view::npos)
            return false;
        facts = line.substr(0, gap + 1);
        name = line.substr(gap + 2);
    }
    if (name.empty() || name == "." || name == "..")
        return false;
    std::string_view type;
    std::string_view size;
    while (!facts.empty()) {
        const auto semi = facts.find(';');
        const std::string_view fact = facts.substr(0, semi);
        facts = semi == std::string_view::npos ? std::string_view{} : facts.substr(semi + 1);
        const auto eq = fact.find('=');
        if (eq == std::string_view::npos)
            return false;
        const std::string_view key = fact.substr(0, eq);
        if (iequals(key, "type"))
            type = fact.substr(eq + 1);
        else if (iequals(key, "size"))
            size = fact.substr(eq + 1);
    }
    if (iequals(type, "cdir") || iequals(type, "pdir"))
        return false;
    entry.directory = iequals(type, "dir");
    entry.size = toSize(size);
    entry.name = ftpNameToUtf8(name);
    return true;
}

// Splits off the next blank-separated word; `rest` keeps what follows the single blank after it.
std::string_view nextWord(std::string_view &rest)
{
    const auto start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    const auto end = rest.find(' ');
    const std::string_view word = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    return word;
}

bool isMonth(std::string_view w)
{
    static constexpr std::array<std::string_view, 12> months{
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    return std::any_of(months.begin(), months.end(),
                       [w](std::string_view m) { return iequals(w, m); });
}

bool isClock(std::string_view w) // hh:mm or hh:mm:ss
{
    return (w.size() == 5 || w.size() == 8) && std::isdigit(static_cast<unsigned char>(w[0])) &&
           std::isdigit(static_cast<unsigned char>(w[1])) && w[2] == ':' &&
           std::isdigit(static_cast<unsigned char>(w[3])) &&
           std::isdigit(static_cast<unsigned char>(w[4]));
}

bool isIsoDate(std::string_view w) // yyyy-mm-dd
{
    return w.size() == 10 && w[4] == '-' && w[7] == '-' && allDigits(w.substr(0, 4)) &&
           allDigits(w.substr(5, 2)) && allDigits(w.substr(8, 2));
}

bool isPermissions(std::string_view w)
{
    static constexpr std::string_view kinds = "-dlbcpsDn";
    if (w.size() < 10 || kinds.find(w[0]) == std::string_view::npos)
        return false;
    return std::all_of(w.begin() + 1, w.begin() + 10, [](char c) {
        return std::string_view("rwxsStTlL-").find(c) != std::string_view::npos;
    });
}

// drwxr-xr-x 2 owner [group] 4096 Jan  1 12:00 name   (also "2020", or yyyy-mm-dd hh:mm)
bool parseUnixLine(std::string_view line, FtpListEntry &entry)
{
    std::string_view rest = line;
    const std::string_view perms = nextWord(rest);
    if (!isPermissions(perms))
        return false;
    std::string_view previous;
    while (!rest.empty()) {
        const std::string_view word = nextWord(rest);
        if (word.empty())
            return false;
        std::string_view afterDate = rest;
        bool dated = false;
        if (isMonth(word)) {
            const std::string_view day = nextWord(afterDate);
            const std::string_view timeOrYear = nextWord(afterDate);
            dated = allDigits(day) && day.size() <= 2 &&
                    (isClock(timeOrYear) || (allDigits(timeOrYear) && timeOrYear.size() == 4));
        } else if (isIsoDate(word)) {
            dated = isClock(nextWord(afterDate));
        }
        if (dated && allDigits(previous)) {
            std::string_view name = afterDate;
            if (perms[0] == 'l') {
                const auto arrow = name.find(" -> ");
                if (arrow != std::string_view::npos)
                    name = name.substr(0, arrow);
            }
            if (name.empty() || name == "." || name == "..")
                return false;
            entry.directory = perms[0] == 'd' || perms[0] == 'D';
            entry.size = toSize(previous);
            entry.name = ftpNameToUtf8(name);
            return true;
        }
        previous = word;
    }
    return false;
}

// 01-02-20  03:04PM       <DIR>          name   or   01-02-2020  03:04PM  1234 name
bool parseDosLine(std::string_view line, FtpListEntry &entry)
{
    std::string_view rest = line;
    const std::string_view date = nextWord(rest);
    if ((date.size() != 8 && date.size() != 10) || date[2] != '-' || date[5] != '-' ||
        !allDigits(date.substr(0, 2)) || !allDigits(date.substr(3, 2)) ||
        !allDigits(date.substr(6)))
        return false;
    std::string_view time = nextWord(rest);
    if (time.size() == 7 && (iequals(time.substr(5), "AM") || iequals(time.substr(5), "PM")))
        time = time.substr(0, 5);
    if (!isClock(time))
        return false;
    const std::string_view sizeOrDir = nextWord(rest);
    const bool directory = sizeOrDir == "<DIR>";
    if (!directory && !allDigits(sizeOrDir))
        return false;
    const auto start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos)
        return false;
    const std::string_view name = rest.substr(start);
    if (name == "." || name == "..")
        return false;
    entry.directory = directory;
    entry.size = directory ? 0 : toSize(sizeOrDir);
    entry.name = ftpNameToUtf8(name);
    return true;
}

} // namespace

bool isValidUtf8(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n;
        std::uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size())
            return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static constexpr std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

std::string ftpNameToUtf8(std::string_view bytes)
{
    if (isValidUtf8(bytes))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::vector<FtpListEntry> parseFtpListing(std::string_view text, FtpListingFormat format)
{
    std::vector<FtpListEntry> entries;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        FtpListEntry entry;
        const bool parsed = format == FtpListingFormat::Mlsd
                                ? parseMlsdLine(line, entry)
                                : (parseUnixLine(line, entry) || parseDosLine(line, entry));
        if (parsed)
            entries.push_back(std::move(entry));
    }
    return entries;
}
