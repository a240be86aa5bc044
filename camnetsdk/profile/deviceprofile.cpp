#include "profile/deviceprofile.h"

#include <glib.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr const char *generalGroup = "General";
// A profile is a few lines; anything this long is not one.
constexpr gsize maxProfileBytes = 64 * 1024;

struct KeyFileFree
{
    void operator()(GKeyFile *file) const { g_key_file_free(file); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileFree>;

std::string takeString(gchar *text)
{
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

std::string takeMessage(GError *error)
{
    std::string message = error ? error->message : "unknown error";
    if (error)
        g_error_free(error);
    return message;
}

bool parses(const std::string &text, GError **error)
{
    KeyFile file(g_key_file_new());
    return g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_NONE, error);
}

std::vector<std::string> linesOf(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        lines.push_back(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start + 1));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

// GKeyFile names no line in its complaints; the first line whose prefix no
// longer parses is the one it complains about.
int syntaxErrorLine(const std::string &text)
{
    const std::vector<std::string> lines = linesOf(text);
    size_t good = 0;
    size_t bad = lines.size();
    while (bad - good > 1) {
        const size_t mid = (good + bad) / 2;
        std::string prefix;
        for (size_t i = 0; i < mid; ++i)
            prefix += lines[i];
        if (parses(prefix, nullptr))
            good = mid;
        else
            bad = mid;
    }
    return int(bad);
}

std::string trimmed(const std::string &text)
{
    const char *blank = " \t\r\n";
    const size_t first = text.find_first_not_of(blank);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(blank) - first + 1);
}

// The line that set key in group; GKeyFile keeps the last of duplicates.
int keyLine(const std::string &text, const std::string &group, const std::string &key)
{
    const std::vector<std::string> lines = linesOf(text);
    std::string current;
    int found = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string line = trimmed(lines[i]);
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            const size_t close = line.rfind(']');
            current = close == std::string::npos ? std::string() : line.substr(1, close - 1);
            continue;
        }
        const size_t equals = line.find('=');
        if (current == group && equals != std::string::npos &&
            trimmed(line.substr(0, equals)) == key)
            found = int(i + 1);
    }
    return found;
}

bool printableAscii(const std::string &text)
{
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return c > 0x20 && c < 0x7f && c != '#'; });
}

// Checks that every {name} in text is one of names; the fault otherwise.
bool placeholdersKnown(const std::string &text, const std::vector<std::string> &names,
                       std::string *fault)
{
    size_t pos = 0;
    while ((pos = text.find_first_of("{}", pos)) != std::string::npos) {
        const size_t close = text.find('}', pos);
        if (text[pos] == '}' || close == std::string::npos) {
            *fault = "unbalanced brace";
            return false;
        }
        const std::string name = text.substr(pos + 1, close - pos - 1);
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            *fault = "unknown placeholder {" + name + "}";
            return false;
        }
        pos = close + 1;
    }
    return true;
}

bool checkPath(const std::string &value, const std::vector<std::string> &names, std::string *fault)
{
    if (value.empty() || value[0] != '/') {
        *fault = "a path must begin with /";
        return false;
    }
    if (!printableAscii(value)) {
        *fault = "a path may hold only printable ASCII without spaces or #";
        return false;
    }
    return placeholdersKnown(value, names, fault);
}

bool checkUrl(const std::string &value, std::string *fault)
{
    size_t authority = 0;
    if (value.compare(0, 7, "http://") == 0 || value.compare(0, 7, "rtsp://") == 0) {
        authority = 7;
    } else {
        *fault = "unknown scheme: a stream URL begins with http:// or rtsp://";
        return false;
    }
    if (!printableAscii(value)) {
        *fault = "a URL may hold only printable ASCII without spaces or #";
        return false;
    }
    const size_t slash = value.find('/', authority);
    const std::string host =
        value.substr(authority, slash == std::string::npos ? std::string::npos : slash - authority);
    if (host.empty()) {
        *fault = "the URL names no host";
        return false;
    }
    if (host.find('@') != std::string::npos) {
        *fault = "credentials never go into a URL; the login's are used";
        return false;
    }
    return placeholdersKnown(value, {"host", "port", "channel"}, fault);
}

// A value as the one line of a complaint can show it.
std::string shown(const std::string &value)
{
    std::string text;
    for (const unsigned char c : value) {
        if (c < 0x20 || c == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            text += escaped;
        } else {
            text += char(c);
        }
    }
    return text;
}

std::string replaced(std::string text, const std::string &placeholder, const std::string &value)
{
    for (size_t pos = 0; (pos = text.find(placeholder, pos)) != std::string::npos;
         pos += value.size())
        text.replace(pos, placeholder.size(), value);
    return text;
}

} // namespace

// Applies one group's keys to a profile, or says which key is wrong and why.
class ProfileReader
{
public:
    ProfileReader(GKeyFile *file, const std::string &text) : m_file(file), m_text(text) {}

    // On failure, line and fault say where and what.
    bool apply(const std::string &group, DeviceProfile *profile, int *line, std::string *fault)
    {
        gsize count = 0;
        gchar **keys = g_key_file_get_keys(m_file, group.c_str(), &count, nullptr);
        bool ok = true;
        for (gsize i = 0; ok && i < count; ++i) {
            std::string key = keys[i];
            if (!applyKey(group, key, profile, fault)) {
                *line = keyLine(m_text, group, key);
                ok = false;
            }
        }
        g_strfreev(keys);
        return ok;
    }

private:
    bool stringValue(const std::string &group, const std::string &key, std::string *value,
                     std::string *fault)
    {
        GError *error = nullptr;
        gchar *text = g_key_file_get_string(m_file, group.c_str(), key.c_str(), &error);
        if (!text) {
            *fault = key + ": " + takeMessage(error);
            return false;
        }
        // GKeyFile keeps blanks behind a value, which nobody sees in an editor.
        *value = trimmed(takeString(text));
        return true;
    }

    bool applyKey(const std::string &group, const std::string &key, DeviceProfile *p,
                  std::string *fault)
    {
        std::string value;
        std::string why;
        if (key == "rtspBasicAuth") {
            GError *error = nullptr;
            const gboolean on = g_key_file_get_boolean(m_file, group.c_str(), key.c_str(), &error);
            if (error) {
                *fault = key + ": " + takeMessage(error);
                return false;
            }
            p->m_rtspBasicAuth = on;
            return true;
        }
        if (key == "onvifPort")
            return applyPort(group, key, p, fault);
        const bool known = key == "loginCheck" || key == "streamUrl" || key == "rtspTransport" ||
                           key == "stdConfigPath" || key == "onvifThermalSource";
        if (!known) {
            *fault = "unknown key " + key + " in group [" + group + "]";
            return false;
        }
        if (!stringValue(group, key, &value, fault))
            return false;
        bool ok = true;
        if (key == "loginCheck") {
            ok = checkPath(value, {}, &why);
            p->m_loginCheck = value;
        } else if (key == "stdConfigPath") {
            ok = checkPath(value, {"command"}, &why);
            p->m_stdConfigPath = value;
        } else if (key == "streamUrl") {
            ok = value == DeviceProfile::onvifStreamUrl || checkUrl(value, &why);
            p->m_streamUrl = value;
        } else if (key == "onvifThermalSource") {
            // An ONVIF token: at most 64 characters, sent back to the camera.
            ok = !value.empty() && value.size() <= 64 && printableAscii(value);
            why = "must be a video source token of 1 to 64 printable characters";
            p->m_onvifThermalSource = value;
        } else {
            ok = value == "tcp" || value == "udp" || value == "auto";
            why = "must be tcp, udp or auto";
            p->m_rtspTransport = value == "udp"    ? DeviceProfile::RtspTransport::Udp
                                 : value == "auto" ? DeviceProfile::RtspTransport::Auto
                                                   : DeviceProfile::RtspTransport::Tcp;
        }
        if (!ok)
            *fault = key + ": " + why + ": " + value;
        return ok;
    }

    bool applyPort(const std::string &group, const std::string &key, DeviceProfile *p,
                   std::string *fault)
    {
        std::string value;
        if (!stringValue(group, key, &value, fault))
            return false;
        char *end = nullptr;
        const long port = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end || value[0] == '-' || value[0] == '+' || port < 1 ||
            port > 65535) {
            *fault = key + ": must be a port number from 1 to 65535: " + value;
            return false;
        }
        p->m_onvifPort = uint16_t(port);
        return true;
    }

    GKeyFile *m_file;
    const std::string &m_text;
};

std::string DeviceProfile::locate()
{
    const char *named = std::getenv("CAMNETSDK_PROFILE");
    if (named && *named)
        return named;
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void *>(&DeviceProfile::locate), &info) || !info.dli_fname)
        return std::string();
    std::string path = info.dli_fname;
    const size_t slash = path.rfind('/');
    path =
        (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "camnetsdk.ini";
    struct stat st;
    // Only its absence means "no profile"; one that is there but unreadable
    // is reported like any other bad profile.
    return ::stat(path.c_str(), &st) == 0 ? path : std::string();
}

bool DeviceProfile::read(const std::string &path, const std::string &address,
                         DeviceProfile *profile, std::string *problem)
{
    *profile = DeviceProfile();
    if (path.empty())
        return true;
    const std::string where = "camnetsdk: profile " + path;
    gchar *contents = nullptr;
    gsize length = 0;
    GError *error = nullptr;
    if (!g_file_get_contents(path.c_str(), &contents, &length, &error)) {
        *problem = shown(where + ": " + takeMessage(error));
        return false;
    }
    std::string text(contents, length);
    g_free(contents);
    // Editors on other systems start a text with a byte order mark.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    if (length > maxProfileBytes) {
        *problem = shown(where + ": longer than " + std::to_string(maxProfileBytes) + " bytes");
        return false;
    }
    if (text.find('\0') != std::string::npos) {
        *problem = shown(where + ": holds a zero byte; a profile is text");
        return false;
    }

    KeyFile file(g_key_file_new());
    if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_NONE, &error)) {
        const std::string message = takeMessage(error);
        *problem = shown(where + ":" + std::to_string(syntaxErrorLine(text)) + ": " + message);
        return false;
    }

    // Every group is checked, so that a mistake shows before the camera it
    // is meant for is ever connected.
    ProfileReader reader(file.get(), text);
    gsize count = 0;
    gchar **groups = g_key_file_get_groups(file.get(), &count);
    std::vector<std::string> names(groups, groups + count);
    g_strfreev(groups);
    for (const std::string &group : names) {
        DeviceProfile scratch;
        int line = 0;
        std::string fault;
        if (!reader.apply(group, &scratch, &line, &fault)) {
            *problem = shown(where + ":" + std::to_string(line) + ": " + fault);
            return false;
        }
    }
    // The camera's own group overrides the general one key by key.
    int line = 0;
    std::string fault;
    if (g_key_file_has_group(file.get(), generalGroup))
        reader.apply(generalGroup, profile, &line, &fault);
    if (address != generalGroup && g_key_file_has_group(file.get(), address.c_str()))
        reader.apply(address, profile, &line, &fault);
    return true;
}

std::string DeviceProfile::streamUrl(const std::string &urlHost, uint16_t port, int channel) const
{
    std::string url = replaced(m_streamUrl, "{host}", urlHost);
    url = replaced(url, "{port}", std::to_string(port));
    return replaced(url, "{channel}", std::to_string(channel));
}

std::string DeviceProfile::stdConfigPath(uint32_t command, uint32_t conditionSize,
                                         uint32_t outputSize) const
{
    const std::string path = replaced(m_stdConfigPath, "{command}", std::to_string(command));
    return path + (path.find('?') == std::string::npos ? "?" : "&") +
           "conditionSize=" + std::to_string(conditionSize) +
           "&outputSize=" + std::to_string(outputSize);
}
