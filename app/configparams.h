// The connection parameters of the last successful connection, kept in
// config.ini beside the executable.
#ifndef CONFIGPARAMS_H
#define CONFIGPARAMS_H

#include <QString>

class QSettings;

struct ConfigParams
{
    QString ip;
    QString userName;
    QString passwd;
    int port = 0;
    int channel = 1;
    int pixel = 0;
};

// Full path of config.ini, set by every openConfigFile().
extern QString configFilePath;
// The store opened by the latest openConfigFile(); null before the first.
extern QSettings *configStore;

bool openConfigFile();
void readConfigParams(ConfigParams &params);
void writeConfigParams(const ConfigParams &params);

#endif // CONFIGPARAMS_H
