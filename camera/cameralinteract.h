// The tool's one camera connection: initialises the SDK, logs in to a camera,
// runs the live previews of up to four channels and logs out again.
#ifndef CAMERALINTERACT_H
#define CAMERALINTERACT_H

#include <QObject>
#include <QString>
#include <qwindowdefs.h> // WId

class CameralInteract : public QObject
{
    Q_OBJECT

public:
    static CameralInteract *instance();

    int login(const QString &address, int port, const QString &userName, const QString &password);
    bool realPlay(WId window, int channel);
    void logout();
    int loginId() const { return m_loginId; }
    // The running preview of channel 1 to 4, or -1.
    int previewHandle(int channel) const;

private:
    CameralInteract();
    ~CameralInteract() override;

    static constexpr int ChannelSlots = 4;

    int m_loginId = -1;
    int m_previewHandles[ChannelSlots] = {-1, -1, -1, -1};
};

#endif // CAMERALINTERACT_H
