#pragma once

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QSize>
#include <QString>
#include <QVector>

// The values a camera keeps (calibration, capability ranges, fusion switch) and
// the simulator's counters and faults, shared by all connection threads.
class CamState
{
public:
    struct Calibration
    {
        int distanceLevel = 1;
        int horScale = 64;
        int verScale = 64;
        int horShift = 100;
        int verShift = 100;
    };
    struct Range
    {
        int min;
        int max;
        int def;
    };
    struct Caps
    {
        Range distanceLevel{1, 10, 1};
        Range horScale{1, 128, 64};
        Range verScale{1, 128, 64};
        Range horShift{0, 200, 100};
        Range verShift{0, 200, 100};
    };
    // Each fault is a number; a switch is 0 or 1.
    struct Faults
    {
        int delayMs = 0;
        int malformedXml = 0;
        int oversizeReply = 0;
        int omitCaps = 0;
        int putStatusCode = 0;
        int refuseLogin = 0;
        int dropConnection = 0;
        int refuseStream = 0;
        int stallStream = 0;
        int crossover = 0;
    };
    // How the camera turns scale and bias values into its warp (see OverlayWarp).
    struct Mapping
    {
        double shiftGain = 1.0;        // pixels per bias step
        double scaleGain = 1.0 / 64.0; // change of the magnification per scale step
        bool cornerPivot = false;      // scales about (0, 0) instead of the frame centre
    };
    // Everything a frame is drawn from.
    struct View
    {
        Calibration calibration;
        bool fusionOn = false;
        bool crossover = false;
        Mapping mapping;
        QSize thermalSize;
    };
    // One fault as fault texts, the state's JSON and the command line name it.
    struct FaultSpec
    {
        const char *name;      // "delay": "delay=500", --delay 500
        const char *valueName; // null for a switch: "omit-caps", --omit-caps
        int min;
        int max;
        int Faults::*field;
        const char *meaning;
    };
    static const QVector<FaultSpec> &faultSpecs();

    CamState();

    // Fixed from the command line before any server starts.
    void setMapping(const Mapping &m) { m_mapping = m; }
    Mapping mapping() const { return m_mapping; }
    void setThermalSize(const QSize &size) { m_thermalSize = size; }

    Calibration calibration() const;
    View view() const;
    Caps caps() const { return m_caps; }
    bool fusionOn() const;
    Faults faults() const;

    // Returns an empty text when the values lie within the capabilities, else why not.
    QString validate(const Calibration &c) const;
    void setCalibration(const Calibration &c);
    void setFusionOn(bool on);
    // Applies "name=value" settings, one per line or separated by commas or
    // spaces; a switch alone means 1. Nothing changes when any is refused.
    QString applyFaults(const QByteArray &text);

    // Mean distance, in pixels of the 640 x 480 picture, between where the
    // overlay draws points of the main plane and where the visible picture shows them.
    double alignmentError() const;

    void countRequest(const QString &kind, quint64 n = 1);
    QByteArray toJson() const;

    // Persistence: a missing file is not an error; a broken one is.
    bool load(const QString &path, QString *error);
    void setStateFile(const QString &path) { m_stateFile = path; }

private:
    bool saveLocked() const;

    mutable QMutex m_mutex;
    Calibration m_cal;
    Caps m_caps;
    bool m_fusionOn = false;
    Faults m_faults;
    Mapping m_mapping;
    QSize m_thermalSize{640, 480};
    QString m_stateFile;
    QMap<QString, quint64> m_counters;
};
