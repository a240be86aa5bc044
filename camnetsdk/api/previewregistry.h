// The running previews by handle, each knowing its login, so that a logout
// can stop all of its previews. Handles count up and are not reused soon, so
// that a stale handle names no newer preview.
#ifndef PREVIEWREGISTRY_H
#define PREVIEWREGISTRY_H

#include "preview/previewsession.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class PreviewRegistry
{
public:
    static PreviewRegistry &instance();

    // Holds a handle for a preview being started; -1 when too many run.
    int32_t reserve();
    void fill(int32_t handle, std::shared_ptr<PreviewSession> session);
    void release(int32_t handle);

    std::shared_ptr<PreviewSession> find(int32_t handle) const;
    // The caller becomes the one that stops it.
    std::shared_ptr<PreviewSession> take(int32_t handle);
    std::vector<std::shared_ptr<PreviewSession>> takeAllOf(int32_t loginId);

private:
    static constexpr size_t maxPreviews = 64;
    mutable std::mutex m_mutex;
    int32_t m_next = 0;
    std::map<int32_t, std::shared_ptr<PreviewSession>> m_sessions;
};

#endif // PREVIEWREGISTRY_H
