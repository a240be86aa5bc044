#include "camserver.h"
#include "camstate.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QString>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>

namespace {

void usage()
{
    std::fprintf(stderr,
                 "usage: camsim [--listen ADDR] [--port N] [--user U] [--password P]\n"
                 "              [--state FILE] [--fps N] [--nonce-timeout SECONDS]\n"
                 "              [--max-connections N] [--idle-timeout SECONDS]\n"
                 "              [--delay MS] [--malformed-xml] [--oversize-reply] [--omit-caps]\n"
                 "              [--put-status N] [--refuse-login] [--drop-connection]\n"
                 "              [--refuse-stream CHANNEL] [--stall-stream]\n");
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

} // namespace

int main(int argc, char **argv)
{
    // Video is drawn off-screen; camsim never opens a window.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    CamServer::Options options;
    CamState state;
    QString stateFile;
    QByteArray faults;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long n = 0;
        if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        } else if (arg == "--malformed-xml" || arg == "--oversize-reply" || arg == "--omit-caps" ||
                   arg == "--refuse-login" || arg == "--drop-connection" ||
                   arg == "--stall-stream") {
            faults += arg.mid(2) + "=1 ";
        } else if (!hasValue) {
            usage();
            return 2;
        } else if (arg == "--listen") {
            options.listen = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--port" && parseNumber(argv[i + 1], 0, 65535, &n)) {
            options.port = uint16_t(n);
            ++i;
        } else if (arg == "--user") {
            options.user = QString::fromUtf8(argv[++i]);
        } else if (arg == "--password" && std::strlen(argv[i + 1]) <= 16) {
            options.password = QString::fromUtf8(argv[++i]);
        } else if (arg == "--state") {
            stateFile = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--fps" && parseNumber(argv[i + 1], 1, 60, &n)) {
            options.fps = int(n);
            ++i;
        } else if (arg == "--nonce-timeout" && parseNumber(argv[i + 1], 1, 86400, &n)) {
            options.nonceTimeout = unsigned(n);
            ++i;
        } else if (arg == "--max-connections" && parseNumber(argv[i + 1], 1, 1024, &n)) {
            options.connectionLimit = unsigned(n);
            ++i;
        } else if (arg == "--idle-timeout" && parseNumber(argv[i + 1], 1, 3600, &n)) {
            options.idleTimeout = unsigned(n);
            ++i;
        } else if (arg == "--delay" && parseNumber(argv[i + 1], 0, 60000, &n)) {
            faults += "delay=" + QByteArray::number(qlonglong(n)) + " ";
            ++i;
        } else if (arg == "--refuse-stream" && parseNumber(argv[i + 1], 0, 2, &n)) {
            faults += "refuse-stream=" + QByteArray::number(qlonglong(n)) + " ";
            ++i;
        } else if (arg == "--put-status" && parseNumber(argv[i + 1], -1000000, 1000000, &n)) {
            faults += "put-status=" + QByteArray::number(qlonglong(n)) + " ";
            ++i;
        } else {
            std::fprintf(stderr, "camsim: bad option or value: %s\n", argv[i]);
            usage();
            return 2;
        }
    }

    QString error;
    if (!stateFile.isEmpty()) {
        if (!state.load(stateFile, &error)) {
            std::fprintf(stderr, "camsim: %s\n", qPrintable(error));
            return 1;
        }
        state.setStateFile(stateFile);
    }
    error = state.applyFaults(faults);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "camsim: %s\n", qPrintable(error));
        return 2;
    }

    // Block the stop signals in every thread the server starts, and wait for
    // them here, so that shutting down happens outside a signal handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    CamServer server(state, options);
    if (!server.start(&error)) {
        std::fprintf(stderr, "camsim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("camsim listening on %s port %u\n", qPrintable(options.listen),
                unsigned(server.boundPort()));
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::printf("camsim: stopping on signal %d\n", signal);
    std::fflush(stdout);
    server.stop();
    return 0;
}
