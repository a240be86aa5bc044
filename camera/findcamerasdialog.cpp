#include "findcamerasdialog.h"
#include "ui_findcamerasdialog.h"

#include <QHeaderView>
#include <QPushButton>

namespace {

// Often enough for the bar to move smoothly over a few seconds.
constexpr int tickMs = 100;

} // namespace

FindCamerasDialog::FindCamerasDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::FindCamerasDialog), m_discovery(CameraDiscovery::create(this))
{
    ui->setupUi(this);
    ui->findProgressBar->setRange(0, 100);
    ui->camerasTreeWidget->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    ui->camerasTreeWidget->header()->setStretchLastSection(false);
    m_tick.setInterval(tickMs);

    connect(&m_tick, &QTimer::timeout, this, &FindCamerasDialog::onTick);
    connect(m_discovery, &CameraDiscovery::finished, this, &FindCamerasDialog::onFinished);
    connect(ui->connectButton, &QPushButton::clicked, this, &FindCamerasDialog::onChoose);
    connect(ui->cancelButton, &QPushButton::clicked, this, &FindCamerasDialog::reject);
    connect(ui->searchAgainButton, &QPushButton::clicked, this, &FindCamerasDialog::startSearch);
    connect(ui->camerasTreeWidget, &QTreeWidget::itemActivated, this,
            &FindCamerasDialog::onItemActivated);
    connect(ui->camerasTreeWidget, &QTreeWidget::itemSelectionChanged, this,
            &FindCamerasDialog::updateButtons);
    updateButtons();
}

FindCamerasDialog::~FindCamerasDialog()
{
    delete ui;
}

void FindCamerasDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The search begins as the window appears, so that its bar means
    // something to the user.
    if (!m_started)
        startSearch();
}

void FindCamerasDialog::startSearch()
{
    m_started = true;
    m_cameras.clear();
    ui->camerasTreeWidget->clear();
    ui->statusLabel->setText(tr("Looking for cameras on the networks of this computer…"));
    ui->findProgressBar->setValue(0);
    ui->findProgressBar->show();
    m_elapsed.start();
    m_tick.start();
    m_discovery->start();
    updateButtons();
}

void FindCamerasDialog::onTick()
{
    // The bar stops short of the end: only the answer completes it.
    const qint64 percent = m_elapsed.elapsed() * 100 / CameraDiscovery::listenMs;
    ui->findProgressBar->setValue(int(qBound<qint64>(0, percent, 99)));
}

void FindCamerasDialog::onFinished()
{
    m_tick.stop();
    ui->findProgressBar->setValue(100);
    ui->findProgressBar->hide();
    m_cameras = m_discovery->cameras();
    for (int i = 0; i < m_cameras.size(); ++i) {
        const DiscoveredCamera &camera = m_cameras.at(i);
        auto *item = new QTreeWidgetItem(
            ui->camerasTreeWidget, {camera.name, camera.address, QString::number(camera.port)});
        item->setData(0, Qt::UserRole, i);
        item->setToolTip(0, camera.xaddrs.join(QLatin1Char('\n')));
    }
    if (!m_cameras.isEmpty()) {
        ui->statusLabel->setText(
            tr("Cameras found: %1. Choose one and press Connect… to log in to it.")
                .arg(m_cameras.size()));
        ui->camerasTreeWidget->setCurrentItem(ui->camerasTreeWidget->topLevelItem(0));
    } else if (m_discovery->interfacesProbed() == 0) {
        ui->statusLabel->setText(
            tr("No camera could be looked for: no network interface of this computer is up "
               "and able to multicast. Connect it to the cameras' network and search again."));
    } else {
        ui->statusLabel->setText(
            tr("No camera answered. Check that the camera is on the same network as this "
               "computer and that the network lets multicast through (WS-Discovery, UDP port "
               "3702); a camera elsewhere can still be reached with Camera > Connect."));
    }
    updateButtons();
}

void FindCamerasDialog::updateButtons()
{
    const bool searching = m_discovery->isRunning();
    ui->searchAgainButton->setEnabled(!searching);
    ui->connectButton->setEnabled(!searching && ui->camerasTreeWidget->currentItem() &&
                                  !ui->camerasTreeWidget->selectedItems().isEmpty());
}

void FindCamerasDialog::onItemActivated(QTreeWidgetItem *item)
{
    ui->camerasTreeWidget->setCurrentItem(item);
    onChoose();
}

void FindCamerasDialog::onChoose()
{
    const QTreeWidgetItem *item = ui->camerasTreeWidget->currentItem();
    if (!item || m_discovery->isRunning())
        return;
    const int index = item->data(0, Qt::UserRole).toInt();
    if (index < 0 || index >= m_cameras.size())
        return;
    m_chosen = m_cameras.at(index);
    accept();
}

void FindCamerasDialog::reject()
{
    // Closing while it listens ends the search; nothing of it is kept.
    m_tick.stop();
    m_discovery->cancel();
    QDialog::reject();
}

// Compiled here rather than with the library's other meta-objects, so that
// using the dialog does not pull in the main window and the camera SDK.
#include "moc_findcamerasdialog.cpp"
