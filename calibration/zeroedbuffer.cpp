#include "zeroedbuffer.h"

#include <sys/mman.h>

#include <cstdlib>

namespace {

// Below this, clearing is cheaper than a mapping and its release.
constexpr size_t mapThreshold = 256 * 1024;

} // namespace

ZeroedBuffer::ZeroedBuffer(size_t size) : m_size(size)
{
    if (size >= mapThreshold) {
        void *pages =
            mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages != MAP_FAILED) {
            m_data = static_cast<char *>(pages);
            m_mapped = true;
            return;
        }
    }
    m_data = static_cast<char *>(std::calloc(size ? size : 1, 1));
}

ZeroedBuffer::~ZeroedBuffer()
{
    if (m_mapped)
        munmap(m_data, m_size);
    else
        std::free(m_data);
}
