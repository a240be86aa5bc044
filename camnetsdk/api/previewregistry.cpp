#include "api/previewregistry.h"

#include "api/identifiers.h"

PreviewRegistry &PreviewRegistry::instance()
{
    static PreviewRegistry registry;
    return registry;
}

int32_t PreviewRegistry::reserve()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_sessions.size() >= maxPreviews)
        return -1;
    const int32_t handle = takeIdentifier(m_sessions, &m_next);
    m_sessions.emplace(handle, nullptr);
    return handle;
}

void PreviewRegistry::fill(int32_t handle, std::shared_ptr<PreviewSession> session)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions[handle] = std::move(session);
}

void PreviewRegistry::release(int32_t handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions.erase(handle);
}

std::shared_ptr<PreviewSession> PreviewRegistry::find(int32_t handle) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sessions.find(handle);
    return it == m_sessions.end() ? nullptr : it->second;
}

std::shared_ptr<PreviewSession> PreviewRegistry::take(int32_t handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sessions.find(handle);
    if (it == m_sessions.end() || !it->second)
        return nullptr;
    std::shared_ptr<PreviewSession> session = std::move(it->second);
    m_sessions.erase(it);
    return session;
}

std::vector<std::shared_ptr<PreviewSession>> PreviewRegistry::takeAllOf(int32_t loginId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::shared_ptr<PreviewSession>> taken;
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (it->second && it->second->loginId() == loginId) {
            taken.push_back(std::move(it->second));
            it = m_sessions.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}
