#include "configparams.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

QString configFilePath;
QSettings *configStore = nullptr;

namespace {

// Owns the current store so that pending writes reach the disk when it is
// replaced by the next open, or when the process ends.
std::unique_ptr<QSettings> &ownedStore()
{
    static std::unique_ptr<QSettings> store;
    return store;
}

// The file holds the password in clear text, so a file the tool creates is
// readable by its owner only. An existing file keeps the permissions it has:
// the settings library preserves them when it rewrites the file.
void createPrivateFileIfMissing(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

} // namespace

bool openConfigFile()
{
    configFilePath = QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
    ownedStore().reset();
    ownedStore().reset(new QSettings(configFilePath, QSettings::IniFormat));
    configStore = ownedStore().get();
    return true;
}

void readConfigParams(ConfigParams &params)
{
    openConfigFile();
    const QString ip = configStore->value(QStringLiteral("IP")).toString();
    const QString userName = configStore->value(QStringLiteral("USERNAME")).toString();
    const QString passwd = configStore->value(QStringLiteral("PASSWD")).toString();
    const int port = configStore->value(QStringLiteral("PORT")).toInt();
    const int channel = configStore->value(QStringLiteral("CHANNEL")).toInt();
    const int pixel = configStore->value(QStringLiteral("PIXEL")).toInt();
    params.ip = ip;
    params.userName = userName;
    params.passwd = passwd;
    params.port = port;
    params.channel = channel;
    params.pixel = pixel;
}

void writeConfigParams(const ConfigParams &params)
{
    openConfigFile();
    createPrivateFileIfMissing(configFilePath);
    configStore->setValue(QStringLiteral("IP"), params.ip);
    configStore->setValue(QStringLiteral("USERNAME"), params.userName);
    configStore->setValue(QStringLiteral("PASSWD"), params.passwd);
    configStore->setValue(QStringLiteral("PORT"), QString::number(params.port, 10));
    configStore->setValue(QStringLiteral("CHANNEL"), QString::number(params.channel, 10));
    configStore->setValue(QStringLiteral("PIXEL"), QString::number(params.pixel, 10));
}
