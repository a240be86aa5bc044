#include "testsupport.h"

#include <QApplication>
#include <QColor>
#include <QCursor>
#include <QDialog>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

namespace TestSupport {

bool looksLikeVisibleScene(const QImage &image)
{
    if (image.width() < 16 || image.height() < 16)
        return false;
    const auto at = [&](double x, double y) {
        return QColor(image.pixel(int(x * (image.width() - 1)), int(y * (image.height() - 1))));
    };
    for (double x : {0.1, 0.5, 0.9}) {
        const QColor sky = at(x, 0.25);
        const QColor grass = at(x, 0.92);
        if (!(sky.blue() > sky.red() + 20 && sky.blue() > 150))
            return false;
        if (!(grass.green() > grass.red() + 20 && grass.green() > grass.blue() + 30))
            return false;
    }
    return true;
}

QString dataPath(const QString &name)
{
    return QStringLiteral(OVERLAYTUNER_TEST_DATA_DIR "/") + name;
}

QByteArray readDataFile(const QString &name)
{
    QFile file(dataPath(name));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

struct ModalAnswerer::Private
{
    Action action;
    QTimer timer;
    QStringList titles;
    QStringList texts;
    QList<int> cursors;
    QPointer<QWidget> lastSeen;
};

ModalAnswerer::ModalAnswerer(Action action) : d(new Private)
{
    d->action = std::move(action);
    d->timer.setInterval(20);
    QObject::connect(&d->timer, &QTimer::timeout, [this] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            // A dialog that is shown again (the connection dialog is reused)
            // counts as a new one once it has been closed.
            d->lastSeen = nullptr;
            return;
        }
        if (modal == d->lastSeen)
            return;
        d->lastSeen = modal;
        d->titles << modal->windowTitle();
        if (auto *box = qobject_cast<QMessageBox *>(modal))
            d->texts << box->text();
        else
            d->texts << QString();
        const QCursor *cursor = QApplication::overrideCursor();
        d->cursors << (cursor ? int(cursor->shape()) : -1);
        if (d->action) {
            d->action(modal);
        } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            dialog->accept();
        }
    });
    d->timer.start();
}

ModalAnswerer::~ModalAnswerer()
{
    delete d;
}

QStringList ModalAnswerer::titles() const
{
    return d->titles;
}

QStringList ModalAnswerer::texts() const
{
    return d->texts;
}

QList<int> ModalAnswerer::overrideCursors() const
{
    return d->cursors;
}

int ModalAnswerer::count() const
{
    return d->titles.size();
}

} // namespace TestSupport
