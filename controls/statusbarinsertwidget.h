// The strip in the main window's status bar: the connection text and the
// "Fusion ON" switch.
#ifndef STATUSBARINSERTWIDGET_H
#define STATUSBARINSERTWIDGET_H

#include <QWidget>

namespace Ui {
class StatusBarInsertWidget;
}

class StatusBarInsertWidget : public QWidget
{
    Q_OBJECT

public:
    explicit StatusBarInsertWidget(QWidget *parent = nullptr);
    ~StatusBarInsertWidget() override;

    void setConnectionText(const QString &text);
    void setFusionEnabled(bool enabled);
    void setFusionOn(bool on);

signals:
    // The check box's new state: 0 off, 2 on.
    void signalONFusion(int state);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Ui::StatusBarInsertWidget *ui;
};

#endif // STATUSBARINSERTWIDGET_H
