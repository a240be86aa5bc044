#include "cameraconnectwidget.h"

#include "configparams.h"

CameraConnectWidget::CameraConnectWidget(QWidget *parent) : QDialog(parent)
{
    ui.setupUi(this);
    loadConfigParams();
    connect(ui.connectBtn, &QPushButton::clicked, this, &CameraConnectWidget::onConnectBtnClicked);
    connect(ui.cancelBtn, &QPushButton::clicked, this, &CameraConnectWidget::onCancleBtnClicked);
}

void CameraConnectWidget::getLoginParams(QString &ip, int &port, QString &userName,
                                         QString &passwd) const
{
    ip = this->ip;
    port = this->port;
    userName = this->userName;
    passwd = this->passwd;
}

void CameraConnectWidget::presetAddress(const QString &ip, int port)
{
    if (!presetPending) {
        ipBeforePreset = ui.ipAddrLineEdt->text();
        portBeforePreset = ui.portLineEdt->text();
    }
    presetPending = true;
    ui.ipAddrLineEdt->setText(ip);
    ui.portLineEdt->setText(QString::number(port, 10));
}

void CameraConnectWidget::done(int result)
{
    if (presetPending && result != QDialog::Accepted) {
        ui.ipAddrLineEdt->setText(ipBeforePreset);
        ui.portLineEdt->setText(portBeforePreset);
    }
    presetPending = false;
    QDialog::done(result);
}

void CameraConnectWidget::loadConfigParams()
{
    ConfigParams params;
    readConfigParams(params);
    ui.ipAddrLineEdt->setText(params.ip);
    ui.portLineEdt->setText(QString::number(params.port, 10));
    ui.userNameLineEdt->setText(params.userName);
    ui.passwdLineEdt->setText(params.passwd);
}

void CameraConnectWidget::onConnectBtnClicked()
{
    ip = ui.ipAddrLineEdt->text();
    port = ui.portLineEdt->text().toInt(nullptr, 10);
    userName = ui.userNameLineEdt->text();
    passwd = ui.passwdLineEdt->text();
    QDialog::accept();
}

void CameraConnectWidget::onCancleBtnClicked()
{
    QDialog::reject();
}
