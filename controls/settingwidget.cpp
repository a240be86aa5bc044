#include "settingwidget.h"
#include "ui_settingwidget.h"

#include "busycursor.h"
#include "cameralinteract.h"
#include "isapiinteract.h"

#include <QDebug>
#include <QEvent>

#include <limits>

SettingWidget::SettingWidget(QWidget *parent) : QFrame(parent), ui(new Ui::SettingWidget)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    fitWidth();

    for (QSpinBox *box : {ui->distanceSpinBox, ui->horShiftSpinBox, ui->verShiftSpinBox,
                          ui->horScalingSpinBox, ui->verScalingSpinBox})
        connect(box, &QSpinBox::editingFinished, this, &SettingWidget::onBoxEditingFinished);
}

SettingWidget::~SettingWidget()
{
    // A box that has the focus finishes its edit while the panel is torn
    // down; that must not reach a half-destroyed panel nor write the camera.
    for (QSpinBox *box : findChildren<QSpinBox *>())
        disconnect(box, nullptr, this, nullptr);
    delete ui;
}

void SettingWidget::loadSettingParamsFromCamera(int loginId)
{
    SettingParamsCap cap;
    SettingParams params;
    ISAPIInteract::getInstance()->getFusionCalibrationCap(loginId, cap);
    ISAPIInteract::getInstance()->getFusionCalibration(loginId, params);

    // Ranges first, so that each value is bounded by the camera's own range;
    // none of this emits editingFinished(), so loading writes nothing.
    ui->distanceSpinBox->setRange(cap.distanceLevel.min.toInt(), cap.distanceLevel.max.toInt());
    ui->horShiftSpinBox->setRange(cap.horShift.min.toInt(), cap.horShift.max.toInt());
    ui->verShiftSpinBox->setRange(cap.verShift.min.toInt(), cap.verShift.max.toInt());
    ui->horScalingSpinBox->setRange(cap.horScale.min.toInt(), cap.horScale.max.toInt());
    ui->verScalingSpinBox->setRange(cap.verScale.min.toInt(), cap.verScale.max.toInt());

    ui->distanceSpinBox->setValue(params.distanceLevel);
    ui->horShiftSpinBox->setValue(params.horShift);
    ui->verShiftSpinBox->setValue(params.verShift);
    ui->horScalingSpinBox->setValue(params.horScale);
    ui->verScalingSpinBox->setValue(params.verScale);
    m_connectParams = params;
}

SettingParams SettingWidget::settingParams() const
{
    SettingParams params;
    params.distanceLevel = ui->distanceSpinBox->value();
    params.horShift = ui->horShiftSpinBox->value();
    params.verShift = ui->verShiftSpinBox->value();
    params.horScale = ui->horScalingSpinBox->value();
    params.verScale = ui->verScalingSpinBox->value();
    return params;
}

SettingParamsCap SettingWidget::settingRanges() const
{
    // The boxes hold the camera's ranges as loaded, already made consistent
    // (a maximum below its minimum is raised to it); the defaults stay unknown.
    const auto range = [](const QSpinBox *box) {
        return ParamRange{box->minimum(), box->maximum(), -1};
    };
    SettingParamsCap cap;
    cap.distanceLevel = range(ui->distanceSpinBox);
    cap.horShift = range(ui->horShiftSpinBox);
    cap.verShift = range(ui->verShiftSpinBox);
    cap.horScale = range(ui->horScalingSpinBox);
    cap.verScale = range(ui->verScalingSpinBox);
    return cap;
}

int SettingWidget::writeSettingParams(const SettingParams &params)
{
    // setValue() emits no editingFinished(), so the one write is the one below.
    ui->distanceSpinBox->setValue(params.distanceLevel);
    ui->horShiftSpinBox->setValue(params.horShift);
    ui->verShiftSpinBox->setValue(params.verShift);
    ui->horScalingSpinBox->setValue(params.horScale);
    ui->verScalingSpinBox->setValue(params.verScale);
    return sendBoxes();
}

void SettingWidget::onBoxEditingFinished()
{
    // Disabling the panel takes the focus from its box, which finishes the
    // edit: that is no edit of the technician's, and the camera is not the
    // panel's while it is disabled.
    if (isEnabled())
        onSendSettingParams2Camera();
}

void SettingWidget::onSendSettingParams2Camera()
{
    sendBoxes();
}

int SettingWidget::sendBoxes()
{
    const SettingParams params = settingParams();
    qDebug() << "--qzv-- onSendSettingParams2Camera";
    const int loginId = CameralInteract::instance()->loginId();
    const BusyCursor busy;
    return ISAPIInteract::getInstance()->setFusionCalibration(params, loginId);
}

void SettingWidget::fitWidth()
{
    // 280 where the texts fit; wider where a font or a language needs it, so
    // that no label is cut.
    setFixedWidth(qMax(280, minimumSizeHint().width()));
}

void SettingWidget::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        fitWidth();
    }
    QFrame::changeEvent(event);
}

void SettingWidget::stepAndSend(QSpinBox *box, int val)
{
    // Summed wide and bounded, as a box may reach the ends of the int range.
    const qint64 sum = qint64(box->value()) + val;
    box->setValue(
        int(qBound<qint64>(std::numeric_limits<int>::min(), sum, std::numeric_limits<int>::max())));
    onSendSettingParams2Camera();
}

void SettingWidget::onSetDistanceVal(int val)
{
    stepAndSend(ui->distanceSpinBox, val);
}

void SettingWidget::onSetHorShiftVal(int val)
{
    stepAndSend(ui->horShiftSpinBox, val);
}

void SettingWidget::onSetVerShiftVal(int val)
{
    stepAndSend(ui->verShiftSpinBox, val);
}

void SettingWidget::onSetHorScaleVal(int val)
{
    stepAndSend(ui->horScalingSpinBox, val);
}

void SettingWidget::onSetVerScaleVal(int val)
{
    stepAndSend(ui->verScalingSpinBox, val);
}
