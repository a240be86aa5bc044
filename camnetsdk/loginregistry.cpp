#include "loginregistry.h"

LoginRegistry &LoginRegistry::instance()
{
    static LoginRegistry registry;
    return registry;
}

int32_t LoginRegistry::add(std::shared_ptr<LoginSession> session)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int32_t id = 0;
    for (const auto &entry : m_sessions) {
        if (entry.first != id)
            break;
        ++id;
    }
    if (id >= maxLogins)
        return -1;
    m_sessions.emplace(id, std::move(session));
    return id;
}

std::shared_ptr<LoginSession> LoginRegistry::find(int32_t id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sessions.find(id);
    return it == m_sessions.end() ? nullptr : it->second;
}

bool LoginRegistry::remove(int32_t id)
{
    std::shared_ptr<LoginSession> gone;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_sessions.find(id);
        if (it == m_sessions.end())
            return false;
        gone = std::move(it->second);
        m_sessions.erase(it);
    }
    return true;
}
