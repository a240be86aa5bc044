// The open logins by identifier. Identifiers are non-negative and count up,
// wrapping only after the whole positive range, so that a stale identifier
// names no newer login. Sessions are shared so that a logout while a request
// of the same login runs on another thread leaves that request intact.
#ifndef LOGINREGISTRY_H
#define LOGINREGISTRY_H

#include "api/loginsession.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

class LoginRegistry
{
public:
    static LoginRegistry &instance();

    // -1 when too many logins are open.
    int32_t add(std::shared_ptr<LoginSession> session);
    std::shared_ptr<LoginSession> find(int32_t id) const;
    bool remove(int32_t id);

private:
    static constexpr size_t maxLogins = 512;
    mutable std::mutex m_mutex;
    int32_t m_next = 0;
    std::map<int32_t, std::shared_ptr<LoginSession>> m_sessions;
};

#endif // LOGINREGISTRY_H
