#pragma once

#if !defined(_WIN32)

#include <unistd.h>

namespace tromel {

/// Owns a file descriptor; closes it on every path out of the scope that opened it.
class Fd {
public:
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace tromel

#endif
