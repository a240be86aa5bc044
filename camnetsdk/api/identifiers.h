// How the SDK numbers its logins and previews: non-negative identifiers that
// count up and wrap only after the whole positive range, skipping those in
// use, so that a stale identifier names nothing newer for a long time.
#ifndef IDENTIFIERS_H
#define IDENTIFIERS_H

#include <cstdint>
#include <limits>
#include <map>

// The next free identifier of inUse at or after *next; moves *next past it.
template<typename Value>
int32_t takeIdentifier(const std::map<int32_t, Value> &inUse, int32_t *next)
{
    const auto advance = [](int32_t id) {
        return id == std::numeric_limits<int32_t>::max() ? 0 : id + 1;
    };
    while (inUse.count(*next))
        *next = advance(*next);
    const int32_t id = *next;
    *next = advance(*next);
    return id;
}

#endif // IDENTIFIERS_H
