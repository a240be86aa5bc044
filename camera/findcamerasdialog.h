// Camera > Find Cameras…: looks for cameras on the local networks for a few
// seconds, lists those that answered, and hands the one the user picks to the
// connection dialog; it connects to nothing itself.
#ifndef FINDCAMERASDIALOG_H
#define FINDCAMERASDIALOG_H

#include "cameradiscovery.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

namespace Ui {
class FindCamerasDialog;
}

class QTreeWidgetItem;

class FindCamerasDialog : public QDialog
{
    Q_OBJECT

public:
    explicit FindCamerasDialog(QWidget *parent = nullptr);
    ~FindCamerasDialog() override;

    // The camera chosen when the dialog was accepted.
    DiscoveredCamera chosenCamera() const { return m_chosen; }

public slots:
    void startSearch();
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void onFinished();
    void onTick();
    void onChoose();
    void onItemActivated(QTreeWidgetItem *item);
    void updateButtons();

    Ui::FindCamerasDialog *ui;
    CameraDiscovery *m_discovery;
    QList<DiscoveredCamera> m_cameras;
    DiscoveredCamera m_chosen;
    QTimer m_tick;
    QElapsedTimer m_elapsed;
    bool m_started = false;
};

#endif // FINDCAMERASDIALOG_H
