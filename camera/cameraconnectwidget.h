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
};

#endif // CAMERACONNECTWIDGET_H
