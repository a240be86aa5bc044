// Standard error of this process caught in a file for the life of the object,
// so that a test can read the lines the SDK writes there.
#ifndef STDERRCAPTURE_H
#define STDERRCAPTURE_H

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace TestSupport {

class StderrCapture
{
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    // Ends the capture and returns what was written meanwhile.
    QByteArray text();

private:
    void restore();

    QTemporaryDir m_dir;
    QString m_path;
    int m_saved = -1;
};

} // namespace TestSupport

#endif // STDERRCAPTURE_H
