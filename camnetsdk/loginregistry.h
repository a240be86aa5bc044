// The open logins by identifier. Identifiers are small and non-negative; a
// freed one is handed out again. Sessions are shared so that a logout while a
// request of the same login runs on another thread leaves that request intact.
#ifndef LOGINREGISTRY_H
#define LOGINREGISTRY_H

#include "loginsession.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

class LoginRegistry
{
public:
    static LoginRegistry &instance();

    // -1 when no identifier is left.
    int32_t add(std::shared_ptr<LoginSession> session);
    std::shared_ptr<LoginSession> find(int32_t id) const;
    bool remove(int32_t id);

private:
    static constexpr int32_t maxLogins = 512;
    mutable std::mutex m_mutex;
    std::map<int32_t, std::shared_ptr<LoginSession>> m_sessions;
};

#endif // LOGINREGISTRY_H
