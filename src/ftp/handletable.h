#pragma once
// The objects behind HINTERNET values: sessions, connections and listings, shared by all
// threads. A handle's object lives on while a call on another thread still uses it.

#include "ftplisting.h"
#include "ftpreply.h"
#include "remotesession.h"
#include "wininet.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

struct InternetSession {
    std::string proxy; // empty: direct
};

struct FtpConnection {
    std::unique_ptr<RemoteSession> session;
    std::string loginDirectory;
    std::string currentDirectory;
};

struct FtpFind {
    std::vector<FtpListEntry> entries;
    std::size_t next = 0;
    DWORD endError = ERROR_NO_MORE_FILES; // a listing cut short ends with its error
    FtpReply endReply;
    std::string endDetail;
};

class HandleTable {
public:
    using Object =
        std::variant<InternetSession, std::shared_ptr<FtpConnection>, std::shared_ptr<FtpFind>>;

    static HandleTable &instance();

    HINTERNET add(Object object);
    template<typename T>
    std::optional<T> get(HINTERNET h)
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_objects.find(h);
        if (it == m_objects.end() || !std::holds_alternative<T>(it->second))
            return std::nullopt;
        return std::get<T>(it->second);
    }
    bool remove(HINTERNET h);

private:
    std::mutex m_mutex;
    HINTERNET m_next = 0;
    std::unordered_map<HINTERNET, Object> m_objects;
};
