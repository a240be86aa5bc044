#include "tooldriver.h"

#include "cameraconnectwidget.h"
#include "camnetsdk.h"
#include "camsimprocess.h"
#include "overlaytuner.h"
#include "startup.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cstdio>

bool ToolDriver::useX11(const char *program)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr,
                     "%s: needs an X display; run it under xvfb-run -a -s "
                     "\"-screen 0 1920x1080x24\"\n",
                     program);
        return false;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}

void ToolDriver::spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool ToolDriver::show(OverlayTuner &window)
{
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    const WindowPlacement placement = placeOnWorkArea(work.width(), work.height());
    window.setMinimumSize(placement.minimumSize);
    if (placement.move)
        window.move(placement.position);
    window.show();
    // Connect once the window is on the screen, as a user would; the
    // previews draw into its frames.
    QElapsedTimer showing;
    showing.start();
    while (!window.windowHandle() || !window.windowHandle()->isExposed()) {
        if (showing.elapsed() > 15000)
            return false;
        spin(20);
    }
    return true;
}

QStringList ToolDriver::connect(OverlayTuner &window, quint16 port)
{
    QStringList complaints;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *dialog = qobject_cast<CameraConnectWidget *>(modal)) {
            dialog->findChild<QLineEdit *>(QStringLiteral("ipAddrLineEdt"))
                ->setText(QStringLiteral("127.0.0.1"));
            dialog->findChild<QLineEdit *>(QStringLiteral("portLineEdt"))
                ->setText(QString::number(port));
            dialog->findChild<QLineEdit *>(QStringLiteral("userNameLineEdt"))
                ->setText(TestSupport::camsimUser);
            dialog->findChild<QLineEdit *>(QStringLiteral("passwdLineEdt"))
                ->setText(TestSupport::camsimPassword);
            dialog->findChild<QPushButton *>(QStringLiteral("connectBtn"))->click();
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            complaints << box->text();
            box->accept();
        }
    });
    answerer.start(50);
    window.findChild<QAction *>(QStringLiteral("actionConnect"))->trigger();
    return complaints;
}

std::vector<int32_t> ToolDriver::runningPreviews()
{
    std::vector<int32_t> handles;
    for (int32_t handle = 0; handle < 256; ++handle) {
        CamNet_PreviewStats stats{};
        if (CamNet_GetPreviewStats(handle, &stats))
            handles.push_back(handle);
    }
    return handles;
}

bool ToolDriver::useRtspProfile(const QTemporaryDir &dir, quint16 rtspPort)
{
    const QString path = dir.filePath(QStringLiteral("camnetsdk.ini"));
    QFile file(path);
    if (!rtspPort || !dir.isValid() || !file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray profile =
        "[General]\nstreamUrl=rtsp://{host}:" + QByteArray::number(rtspPort) +
        "/channels/{channel}\nrtspTransport=tcp\n";
    if (file.write(profile) != profile.size())
        return false;
    qputenv("CAMNETSDK_PROFILE", QFile::encodeName(path));
    return true;
}
