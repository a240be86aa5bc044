#include "stderrcapture.h"

#include <QFile>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace TestSupport {

StderrCapture::StderrCapture() : m_path(m_dir.filePath(QStringLiteral("stderr")))
{
    std::fflush(stderr);
    m_saved = ::dup(2);
    const int fd = ::open(qPrintable(m_path), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    ::close(fd);
}

StderrCapture::~StderrCapture()
{
    restore();
}

QByteArray StderrCapture::text()
{
    restore();
    QFile file(m_path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void StderrCapture::restore()
{
    if (m_saved < 0)
        return;
    std::fflush(stderr);
    ::dup2(m_saved, 2);
    ::close(m_saved);
    m_saved = -1;
}

} // namespace TestSupport
