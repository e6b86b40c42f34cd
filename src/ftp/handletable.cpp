#include "handletable.h"

HandleTable &HandleTable::instance()
{
    static HandleTable table;
    return table;
}

HINTERNET HandleTable::add(Object object)
{
    std::lock_guard lock(m_mutex);
    do
        ++m_next;
    while (m_next == 0 || m_objects.count(m_next));
    m_objects.emplace(m_next, std::move(object));
    return m_next;
}

bool HandleTable::remove(HINTERNET h)
{
    Object doomed; // destroyed outside the lock: closing a connection may wait on the network
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_objects.find(h);
        if (it == m_objects.end())
            return false;
        doomed = std::move(it->second);
        m_objects.erase(it);
    }
    return true;
}
