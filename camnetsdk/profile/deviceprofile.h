// How the SDK reaches one camera: where its login check, live streams and
// standard-configuration commands are, and how to play an RTSP stream. Read
// from an INI file of the SDK's own at each login, so that a camera that is
// not our simulator needs a profile, never code; with no file at all the
// built-in values are exactly the simulator's protocol.
#ifndef DEVICEPROFILE_H
#define DEVICEPROFILE_H

#include <cstdint>
#include <string>

class DeviceProfile
{
public:
    // The file a login reads: CAMNETSDK_PROFILE when set and not empty, else
    // camnetsdk.ini beside this library if it exists; empty for none.
    static std::string locate();

    // Reads the profile at path for the camera at address (as the user typed
    // it); an empty path gives the built-in profile. False with one line
    // naming the file, the line when there is one, and the fault.
    static bool read(const std::string &path, const std::string &address, DeviceProfile *profile,
                     std::string *problem);

    // Path and query of the authenticated GET that checks the credentials.
    const std::string &loginCheck() const { return m_loginCheck; }
    // Whether the login check is the built-in one, whose answer must be a
    // DeviceInfo document; a camera's own may answer anything on success.
    bool builtInLoginCheck() const { return m_loginCheck == defaultLoginCheck; }
    // urlHost as hostForUrl gives it.
    std::string streamUrl(const std::string &urlHost, uint16_t port, int channel) const;
    // Path and query of a standard-configuration call, its sizes included.
    std::string stdConfigPath(uint32_t command, uint32_t conditionSize, uint32_t outputSize) const;
    // How RTP reaches the SDK: interleaved on the RTSP connection, on UDP
    // ports of its own, or UDP first and TCP when UDP is refused or silent.
    enum class RtspTransport
    {
        Tcp,
        Udp,
        Auto
    };
    RtspTransport rtspTransport() const { return m_rtspTransport; }
    bool rtspBasicAuth() const { return m_rtspBasicAuth; }
    // streamUrl=onvif: the camera names its streams itself over ONVIF, at
    // onvifPort (0: the login's port); onvifThermalSource names the thermal
    // video source's token for a camera without a Thermal service.
    bool onvif() const { return m_streamUrl == onvifStreamUrl; }
    uint16_t onvifPort() const { return m_onvifPort; }
    const std::string &onvifThermalSource() const { return m_onvifThermalSource; }

    static constexpr const char *defaultLoginCheck = "/camnet/device";
    static constexpr const char *onvifStreamUrl = "onvif";

private:
    std::string m_loginCheck = defaultLoginCheck;
    std::string m_streamUrl = "http://{host}:{port}/camnet/channels/{channel}/stream";
    std::string m_stdConfigPath = "/camnet/stdconfig/{command}";
    RtspTransport m_rtspTransport = RtspTransport::Tcp;
    bool m_rtspBasicAuth = false;
    uint16_t m_onvifPort = 0;
    std::string m_onvifThermalSource;

    friend class ProfileReader;
};

#endif // DEVICEPROFILE_H
