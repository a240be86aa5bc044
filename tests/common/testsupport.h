// Helpers shared by the tests: answering modal dialogs and locating test data.
#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace TestSupport {

// Channel 1 of the simulator: sky above and grass below across the picture.
bool looksLikeVisibleScene(const QImage &image);

QString dataPath(const QString &name);
QByteArray readDataFile(const QString &name);

// Answers every modal dialog that opens from now on, from a queued timer:
// records its window title, text and the application's override cursor,
// then runs the given action on it (by default it accepts it). Stops when
// destroyed.
class ModalAnswerer
{
public:
    using Action = std::function<void(QWidget *dialog)>;
    explicit ModalAnswerer(Action action = Action());
    ~ModalAnswerer();
    // It owns the timer that answers; a copy would stop it twice.
    ModalAnswerer(const ModalAnswerer &) = delete;
    ModalAnswerer &operator=(const ModalAnswerer &) = delete;

    QStringList titles() const;
    QStringList texts() const;
    // The override cursor's shape while each dialog was open; -1 for none.
    QList<int> overrideCursors() const;
    int count() const;

private:
    struct Private;
    Private *d;
};

} // namespace TestSupport

#endif // TESTSUPPORT_H
