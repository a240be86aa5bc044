// A fresh zero-filled buffer for one exchange, released with the object.
// Large ones are taken straight from the kernel as anonymous pages, which
// arrive zeroed and cost nothing until touched: clearing a mostly unused
// 1 MiB reply buffer by hand on every write showed up as a quarter of a
// calibration step's latency.
#ifndef ZEROEDBUFFER_H
#define ZEROEDBUFFER_H

#include <cstddef>

class ZeroedBuffer
{
public:
    explicit ZeroedBuffer(size_t size);
    ~ZeroedBuffer();
    ZeroedBuffer(const ZeroedBuffer &) = delete;
    ZeroedBuffer &operator=(const ZeroedBuffer &) = delete;

    // Null only when memory ran out.
    char *get() const { return m_data; }

private:
    char *m_data = nullptr;
    size_t m_size = 0;
    bool m_mapped = false;
};

#endif // ZEROEDBUFFER_H
