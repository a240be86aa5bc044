#include "api/loginregistry.h"

#include "api/identifiers.h"

LoginRegistry &LoginRegistry::instance()
{
    static LoginRegistry registry;
    return registry;
}

int32_t LoginRegistry::add(std::shared_ptr<LoginSession> session)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_sessions.size() >= maxLogins)
        return -1;
    const int32_t id = takeIdentifier(m_sessions, &m_next);
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
