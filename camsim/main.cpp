#include "camserver.h"
#include "camstate.h"
#include "rtspserver.h"
#include "wsdiscovery.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QList>
#include <QSize>
#include <QString>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>

namespace {

// Everything the command line sets.
struct Settings
{
    CamServer::Options options;
    QString stateFile;
    QByteArray faults; // in the form PUT /camsim/faults takes
    // RTSP is served only when asked for, so that simulators started side by
    // side do not compete for its port.
    bool rtsp = false;
    uint16_t rtspPort = 8554;
    RtspServer::Codec rtspCodec = RtspServer::Codec::H264;
    CamState::Mapping mapping;
    bool wsDiscovery = false;
};

void usage()
{
    QByteArray faults;
    for (const CamState::FaultSpec &spec : CamState::faultSpecs()) {
        QByteArray option = QByteArray("  --") + spec.name;
        if (spec.valueName)
            option += QByteArray(" ") + spec.valueName;
        faults += option.leftJustified(26) + " " + spec.meaning + "\n";
    }
    std::fprintf(stderr,
                 "usage: camsim [--listen ADDR] [--port N] [--user U] [--password P]\n"
                 "              [--state FILE] [--fps N] [--nonce-timeout SECONDS]\n"
                 "              [--max-connections N] [--idle-timeout SECONDS]\n"
                 "              [--mjpeg-shape standard|no-length|late-crlf]\n"
                 "              [--visible-size WxH] [--thermal-size WxH]\n"
                 "              [--rtsp-port N] [--rtsp-codec h264|h265|jpeg]\n"
                 "              [--shift-gain PX] [--scale-gain F] [--scale-centre centre|corner]\n"
                 "              [--onvif-auth digest|token|both] [--onvif-clock-offset SECONDS]\n"
                 "              [--onvif-no-thermal] [--onvif-no-media2] [--onvif-bad-address]\n"
                 "              [--ws-discovery] [faults...]\n"
                 "picture sizes: even numbers, 160x120 to 3840x2160; 640x480 unless given\n"
                 "RTSP (rtsp://ADDR:N/channels/1 and 2) runs when either RTSP option is given;\n"
                 "port 8554 and h264 unless given, port 0 picks a free one\n"
                 "how a bias step shifts the overlay (pixels, signed; 1 unless given), how a\n"
                 "scale step changes its magnification (signed; 0.015625 unless given) and\n"
                 "about which point it scales (the frame's centre unless given)\n"
                 "ONVIF on the HTTP port (/onvif/device_service): HTTP Digest, WS-Security\n"
                 "UsernameToken (PasswordDigest, Created within %d s of the camera's clock,\n"
                 "which --onvif-clock-offset puts ahead or behind) or either (the default);\n"
                 "stream URIs need RTSP; --onvif-bad-address makes every address 0.0.0.0\n"
                 "--ws-discovery answers Probes on UDP 3702 (group 239.255.255.250) on the\n"
                 "interface of the --listen address (every multicast one for 0.0.0.0),\n"
                 "unicast to the prober only; it never announces itself\n"
                 "faults, also switched by PUT /camsim/faults with \"name=value\":\n%s",
                 UsernameTokenAuth::windowSeconds, faults.constData());
}

bool parseNumber(const char *text, long min, long max, long *out)
{
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < min || v > max)
        return false;
    *out = v;
    return true;
}

bool parseReal(const char *text, double limit, double *out)
{
    char *end = nullptr;
    const double v = std::strtod(text, &end);
    if (!*text || *end || !std::isfinite(v) || std::abs(v) > limit)
        return false;
    *out = v;
    return true;
}

// "WxH", both even (4:2:0 video halves them) and within what an encoder takes.
bool parseSize(const char *text, QSize *out)
{
    const QList<QByteArray> parts = QByteArray(text).split('x');
    long w = 0, h = 0;
    if (parts.size() != 2 || !parseNumber(parts[0].constData(), 160, 3840, &w) ||
        !parseNumber(parts[1].constData(), 120, 2160, &h) || w % 2 || h % 2)
        return false;
    *out = QSize(int(w), int(h));
    return true;
}

// The options that take no value, apart from the fault switches.
bool setSwitch(const QByteArray &arg, Settings *s)
{
    OnvifService::Options &onvif = s->options.onvif;
    if (arg == "--onvif-no-thermal")
        onvif.thermal = false;
    else if (arg == "--onvif-no-media2")
        onvif.media2 = false;
    else if (arg == "--onvif-bad-address")
        onvif.badAddress = true;
    else if (arg == "--ws-discovery")
        s->wsDiscovery = true;
    else
        return false;
    return true;
}

bool isSwitch(const QByteArray &arg)
{
    Settings scratch;
    return setSwitch(arg, &scratch);
}

const CamState::FaultSpec *faultNamed(const QByteArray &option)
{
    for (const CamState::FaultSpec &spec : CamState::faultSpecs()) {
        if (option == QByteArray("--") + spec.name)
            return &spec;
    }
    return nullptr;
}

// One option with its value, if it takes one; false when either is wrong.
bool parseOption(const QByteArray &arg, const char *value, Settings *s)
{
    CamServer::Options &o = s->options;
    long n = 0;
    if (const CamState::FaultSpec *fault = faultNamed(arg)) {
        if (!fault->valueName) {
            s->faults += QByteArray(fault->name) + "=1 ";
            return true;
        }
        if (!value || !parseNumber(value, fault->min, fault->max, &n))
            return false;
        s->faults += QByteArray(fault->name) + "=" + QByteArray::number(qlonglong(n)) + " ";
        return true;
    }
    if (setSwitch(arg, s))
        return true;
    if (!value)
        return false;
    if (arg == "--listen")
        o.listen = QString::fromLocal8Bit(value);
    else if (arg == "--port" && parseNumber(value, 0, 65535, &n))
        o.port = uint16_t(n);
    else if (arg == "--user")
        o.user = QString::fromUtf8(value);
    else if (arg == "--password" && std::strlen(value) <= 16)
        o.password = QString::fromUtf8(value);
    else if (arg == "--state")
        s->stateFile = QString::fromLocal8Bit(value);
    else if (arg == "--fps" && parseNumber(value, 1, 60, &n))
        o.fps = int(n);
    else if (arg == "--nonce-timeout" && parseNumber(value, 1, 86400, &n))
        o.nonceTimeout = unsigned(n);
    else if (arg == "--max-connections" && parseNumber(value, 1, 1024, &n))
        o.connectionLimit = unsigned(n);
    else if (arg == "--idle-timeout" && parseNumber(value, 1, 3600, &n))
        o.idleTimeout = unsigned(n);
    else if (arg == "--mjpeg-shape" && std::strcmp(value, "standard") == 0)
        o.mjpegShape = CamServer::MjpegShape::Standard;
    else if (arg == "--mjpeg-shape" && std::strcmp(value, "no-length") == 0)
        o.mjpegShape = CamServer::MjpegShape::NoLength;
    else if (arg == "--mjpeg-shape" && std::strcmp(value, "late-crlf") == 0)
        o.mjpegShape = CamServer::MjpegShape::LateCrlf;
    else if (arg == "--rtsp-port" && parseNumber(value, 0, 65535, &n)) {
        s->rtsp = true;
        s->rtspPort = uint16_t(n);
    } else if (arg == "--rtsp-codec" && RtspServer::parseCodec(value, &s->rtspCodec))
        s->rtsp = true;
    else if (arg == "--shift-gain")
        return parseReal(value, 50, &s->mapping.shiftGain);
    else if (arg == "--scale-gain")
        return parseReal(value, 1, &s->mapping.scaleGain);
    else if (arg == "--scale-centre" && std::strcmp(value, "centre") == 0)
        s->mapping.cornerPivot = false;
    else if (arg == "--scale-centre" && std::strcmp(value, "corner") == 0)
        s->mapping.cornerPivot = true;
    else if (arg == "--onvif-auth")
        return OnvifService::parseAuthMode(value, &o.onvif.auth);
    else if (arg == "--onvif-clock-offset" && parseNumber(value, -315360000, 315360000, &n))
        o.onvif.clockOffset = int(n);
    else if (arg == "--visible-size")
        return parseSize(value, &o.visibleSize);
    else if (arg == "--thermal-size")
        return parseSize(value, &o.thermalSize);
    else
        return false;
    return true;
}

// -1 when the simulator is to run, else the exit code.
int parseArguments(int argc, char **argv, Settings *settings)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        }
        const CamState::FaultSpec *fault = faultNamed(arg);
        const bool takesValue = !isSwitch(arg) && (!fault || fault->valueName);
        const char *value = takesValue && i + 1 < argc ? argv[i + 1] : nullptr;
        if (!parseOption(arg, value, settings)) {
            std::fprintf(stderr, "camsim: bad option or value: %s\n", argv[i]);
            usage();
            return 2;
        }
        if (takesValue)
            ++i;
    }
    return -1;
}

// -1 when the state is ready, else the exit code.
int prepareState(const Settings &settings, CamState *state)
{
    state->setMapping(settings.mapping);
    state->setThermalSize(settings.options.thermalSize);
    QString error;
    if (!settings.stateFile.isEmpty()) {
        if (!state->load(settings.stateFile, &error)) {
            std::fprintf(stderr, "camsim: %s\n", qPrintable(error));
            return 1;
        }
        state->setStateFile(settings.stateFile);
    }
    error = state->applyFaults(settings.faults);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "camsim: %s\n", qPrintable(error));
        return 2;
    }
    return -1;
}

RtspServer::Options rtspOptions(const Settings &settings)
{
    const CamServer::Options &o = settings.options;
    RtspServer::Options r;
    r.listen = o.listen;
    r.port = settings.rtspPort;
    r.user = o.user;
    r.password = o.password;
    r.fps = o.fps;
    r.codec = settings.rtspCodec;
    r.visibleSize = o.visibleSize;
    r.thermalSize = o.thermalSize;
    r.connectionLimit = o.connectionLimit;
    r.idleTimeout = o.idleTimeout;
    return r;
}

// The HTTP server's options with what ONVIF tells of the streams.
CamServer::Options withStreams(const Settings &settings, uint16_t rtspPort)
{
    CamServer::Options o = settings.options;
    o.onvif.rtspPort = rtspPort;
    o.onvif.encoding = QByteArray(RtspServer::codecName(settings.rtspCodec)).toUpper();
    o.onvif.fps = o.fps;
    o.onvif.visibleSize = o.visibleSize;
    o.onvif.thermalSize = o.thermalSize;
    return o;
}

// Serves until SIGINT or SIGTERM; the exit code.
int serve(CamState &state, const Settings &settings)
{
    // Block the stop signals in every thread the servers start, and wait for
    // them here, so that shutting down happens outside a signal handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // RTSP first: the stream URIs ONVIF hands out name its port.
    RtspServer rtsp(state, rtspOptions(settings));
    QString error;
    if (settings.rtsp && !rtsp.start(&error)) {
        std::fprintf(stderr, "camsim: %s\n", qPrintable(error));
        return 1;
    }
    const CamServer::Options options = withStreams(settings, settings.rtsp ? rtsp.boundPort() : 0);
    CamServer server(state, options);
    WsDiscovery discovery(state, server.onvif(), options.listen);
    if (!server.start(&error) || (settings.wsDiscovery && !discovery.start(&error))) {
        std::fprintf(stderr, "camsim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("camsim listening on %s port %u\n", qPrintable(options.listen),
                unsigned(server.boundPort()));
    if (settings.rtsp)
        std::printf("camsim rtsp on %s port %u codec %s\n", qPrintable(options.listen),
                    unsigned(rtsp.boundPort()), RtspServer::codecName(settings.rtspCodec));
    if (settings.wsDiscovery)
        std::printf("camsim ws-discovery on %s port %u\n", qPrintable(options.listen),
                    unsigned(WsDiscovery::port));
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::printf("camsim: stopping on signal %d\n", signal);
    std::fflush(stdout);
    discovery.stop();
    rtsp.stop();
    server.stop();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // Video is drawn off-screen; camsim never opens a window.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    Settings settings;
    if (const int code = parseArguments(argc, argv, &settings); code >= 0)
        return code;
    CamState state;
    if (const int code = prepareState(settings, &state); code >= 0)
        return code;
    return serve(state, settings);
}
