#include "camstate.h"

#include "overlaywarp.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace {

QJsonObject calibrationToJson(const CamState::Calibration &c)
{
    QJsonObject o;
    o["distanceLevel"] = c.distanceLevel;
    o["horScale"] = c.horScale;
    o["verScale"] = c.verScale;
    o["horShift"] = c.horShift;
    o["verShift"] = c.verShift;
    return o;
}

QString outOfRange(const char *name, int value, const CamState::Range &r)
{
    if (value >= r.min && value <= r.max)
        return QString();
    return QStringLiteral("%1 %2 is outside %3..%4").arg(name).arg(value).arg(r.min).arg(r.max);
}

} // namespace

CamState::CamState()
{
    m_cal.distanceLevel = m_caps.distanceLevel.def;
    m_cal.horScale = m_caps.horScale.def;
    m_cal.verScale = m_caps.verScale.def;
    m_cal.horShift = m_caps.horShift.def;
    m_cal.verShift = m_caps.verShift.def;
}

CamState::Calibration CamState::calibration() const
{
    QMutexLocker lock(&m_mutex);
    return m_cal;
}

CamState::View CamState::view() const
{
    QMutexLocker lock(&m_mutex);
    View v;
    v.calibration = m_cal;
    v.fusionOn = m_fusionOn;
    v.crossover = m_faults.crossover != 0;
    v.mapping = m_mapping;
    v.thermalSize = m_thermalSize;
    return v;
}

bool CamState::fusionOn() const
{
    QMutexLocker lock(&m_mutex);
    return m_fusionOn;
}

CamState::Faults CamState::faults() const
{
    QMutexLocker lock(&m_mutex);
    return m_faults;
}

QString CamState::validate(const Calibration &c) const
{
    const QString reasons[] = {
        outOfRange("distanceLevel", c.distanceLevel, m_caps.distanceLevel),
        outOfRange("ScaleRatio/horizontal", c.horScale, m_caps.horScale),
        outOfRange("ScaleRatio/vertical", c.verScale, m_caps.verScale),
        outOfRange("Bias/horizontal", c.horShift, m_caps.horShift),
        outOfRange("Bias/vertical", c.verShift, m_caps.verShift),
    };
    for (const QString &r : reasons) {
        if (!r.isEmpty())
            return r;
    }
    return QString();
}

void CamState::setCalibration(const Calibration &c)
{
    QMutexLocker lock(&m_mutex);
    m_cal = c;
    saveLocked();
}

void CamState::setFusionOn(bool on)
{
    QMutexLocker lock(&m_mutex);
    m_fusionOn = on;
    saveLocked();
}

const QVector<CamState::FaultSpec> &CamState::faultSpecs()
{
    static const QVector<FaultSpec> specs{
        {"delay", "MS", 0, 60000, &Faults::delayMs, "answer every camera request this late"},
        {"malformed-xml", nullptr, 0, 1, &Faults::malformedXml, "cut calibration documents short"},
        {"oversize-reply", nullptr, 0, 1, &Faults::oversizeReply,
         "pad calibration documents past 1 MiB"},
        {"omit-caps", nullptr, 0, 1, &Faults::omitCaps, "serve capabilities without ranges"},
        {"put-status", "N", -1000000, 1000000, &Faults::putStatusCode,
         "answer every calibration write with statusCode N (0: judge it)"},
        {"refuse-login", nullptr, 0, 1, &Faults::refuseLogin, "refuse every credential"},
        {"drop-connection", nullptr, 0, 1, &Faults::dropConnection,
         "hang up halfway through every reply; close RTSP connections"},
        {"refuse-stream", "CHANNEL", 0, 2, &Faults::refuseStream,
         "answer that channel's stream with 404 (0: none)"},
        {"stall-stream", nullptr, 0, 1, &Faults::stallStream, "stop sending frames"},
        {"crossover", nullptr, 0, 1, &Faults::crossover,
         "thermal crossover: the thermal picture shows one uniform temperature"},
    };
    return specs;
}

QString CamState::applyFaults(const QByteArray &text)
{
    Faults f = faults();
    const QStringList items =
        QString::fromUtf8(text).split(QRegularExpression("[\\s,&]+"), Qt::SkipEmptyParts);
    for (const QString &item : items) {
        const int eq = item.indexOf('=');
        const QString name = eq < 0 ? item : item.left(eq);
        const QString value = eq < 0 ? QStringLiteral("1") : item.mid(eq + 1);
        const auto spec = std::find_if(faultSpecs().begin(), faultSpecs().end(),
                                       [&](const FaultSpec &s) { return name == s.name; });
        if (spec == faultSpecs().end())
            return QStringLiteral("unknown fault %1").arg(name);
        bool ok = false;
        const int n = value.toInt(&ok);
        if (!ok)
            return QStringLiteral("fault %1: value %2 is not a number").arg(name, value);
        if (!spec->valueName)
            f.*spec->field = n != 0;
        else if (n >= spec->min && n <= spec->max)
            f.*spec->field = n;
        else
            return QStringLiteral("fault %1: %2 is outside %3..%4")
                .arg(name)
                .arg(n)
                .arg(spec->min)
                .arg(spec->max);
    }
    QMutexLocker lock(&m_mutex);
    m_faults = f;
    return QString();
}

double CamState::alignmentError() const
{
    return OverlayWarp(m_mapping).error(calibration());
}

void CamState::countRequest(const QString &kind, quint64 n)
{
    QMutexLocker lock(&m_mutex);
    m_counters[kind] += n;
}

QByteArray CamState::toJson() const
{
    QJsonObject o;
    QJsonObject counters;
    Faults f;
    {
        QMutexLocker lock(&m_mutex);
        o["calibration"] = calibrationToJson(m_cal);
        o["fusion"] = m_fusionOn;
        for (auto it = m_counters.begin(); it != m_counters.end(); ++it)
            counters[it.key()] = double(it.value());
        f = m_faults;
    }
    const OverlayWarp warp(m_mapping);
    const Calibration c = calibration();
    o["alignmentError"] = warp.error(c);
    double floor = 0;
    o["bestCalibration"] = calibrationToJson(warp.best(c, m_caps, &floor));
    o["alignmentFloor"] = floor;
    QJsonObject mapping;
    mapping["shiftGain"] = m_mapping.shiftGain;
    mapping["scaleGain"] = m_mapping.scaleGain;
    mapping["scaleCentre"] = m_mapping.cornerPivot ? "corner" : "centre";
    o["mapping"] = mapping;
    o["requests"] = counters;
    QJsonObject faults;
    for (const FaultSpec &spec : faultSpecs()) {
        const int value = f.*spec.field;
        faults[spec.name] = spec.valueName ? QJsonValue(value) : QJsonValue(value != 0);
    }
    o["faults"] = faults;
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + "\n";
}

bool CamState::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!doc.isObject()) {
        *error = QStringLiteral("%1 is not a state file: %2").arg(path, parseError.errorString());
        return false;
    }
    const QJsonObject o = doc.object();
    const QJsonObject c = o["calibration"].toObject();
    Calibration cal;
    cal.distanceLevel = c["distanceLevel"].toInt(m_cal.distanceLevel);
    cal.horScale = c["horScale"].toInt(m_cal.horScale);
    cal.verScale = c["verScale"].toInt(m_cal.verScale);
    cal.horShift = c["horShift"].toInt(m_cal.horShift);
    cal.verShift = c["verShift"].toInt(m_cal.verShift);
    const QString invalid = validate(cal);
    if (!invalid.isEmpty()) {
        *error = QStringLiteral("%1: %2").arg(path, invalid);
        return false;
    }
    QMutexLocker lock(&m_mutex);
    m_cal = cal;
    m_fusionOn = o["fusion"].toBool(false);
    return true;
}

bool CamState::saveLocked() const
{
    if (m_stateFile.isEmpty())
        return true;
    QJsonObject o;
    o["calibration"] = calibrationToJson(m_cal);
    o["fusion"] = m_fusionOn;
    // QSaveFile writes beside the target and renames over it, so a kill at any
    // moment leaves either the old file or the new one.
    QSaveFile file(m_stateFile);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(o).toJson());
    return file.commit();
}
