// The modal dialog in which the user types the camera's address, port, user
// name and password before connecting.
#ifndef CAMERACONNECTWIDGET_H
#define CAMERACONNECTWIDGET_H

#include "ui_cameraconnectwidget.h"

#include <QDialog>

class CameraConnectWidget : public QDialog
{
    Q_OBJECT

public:
    explicit CameraConnectWidget(QWidget *parent = nullptr);

    // The values of the last run that ended with Connect.
    void getLoginParams(QString &ip, int &port, QString &userName, QString &passwd) const;
    // Shows this address and port for the next run only, e.g. a camera that
    // was found: a run that ends without Connect puts back what the fields
    // held before.
    void presetAddress(const QString &ip, int port);

public slots:
    void done(int result) override;

private slots:
    void onConnectBtnClicked();
    void onCancleBtnClicked();

private:
    void loadConfigParams();

    Ui::CameraConnectWidget ui;
    QString ip;
    int port = 0;
    QString userName;
    QString passwd;
    bool presetPending = false;
    QString ipBeforePreset;
    QString portBeforePreset;
};

#endif // CAMERACONNECTWIDGET_H
