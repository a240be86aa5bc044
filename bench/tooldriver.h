// Drives the tool's own main window in a benchmark's process as a user would:
// shows it as the tool's main() does, answers its connection dialog, and finds
// the previews the connect started. Shared by the benchmarks that need the
// whole tool on an X server.
#ifndef TOOLDRIVER_H
#define TOOLDRIVER_H

#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <vector>

class OverlayTuner;

class ToolDriver
{
public:
    // Before the application is made: chooses the X platform, or says on
    // standard error, in program's name, how to get a display and returns false.
    static bool useX11(const char *program);
    // Runs the event loop as the tool's own exec() would, idle between events.
    static void spin(int ms);
    // False when the window never shows within 15 s.
    static bool show(OverlayTuner &window);
    // Connects through the dialog to 127.0.0.1:port with the simulator's
    // account; any other box that opens is closed. Returns what those said.
    static QStringList connect(OverlayTuner &window, quint16 port);
    // The running previews in handle order, which is channel order: the SDK
    // counts handles up and the connect starts channel 1 first.
    static std::vector<int32_t> runningPreviews();
    // Writes a device profile into dir that sends the SDK to the simulator's
    // RTSP streams, and names it for the next login; false when it cannot.
    static bool useRtspProfile(const QTemporaryDir &dir, quint16 rtspPort);
};

#endif // TOOLDRIVER_H
