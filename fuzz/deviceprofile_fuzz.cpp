// libFuzzer entry: the SDK's reading of its device profile, an INI file a
// user writes by hand (GKeyFile, then our own checks of groups, keys, URLs and
// paths, and the search for the line a fault is on).
//
// Input: the profile's bytes; it is read for the address "127.0.0.1".
#include "profile/deviceprofile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string profilePath()
{
    char path[] = "/tmp/fuzz_deviceprofile_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        abort();
    close(fd);
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = profilePath();
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        abort();
    if (size)
        std::fwrite(data, 1, size, file);
    std::fclose(file);

    DeviceProfile profile;
    std::string problem;
    if (DeviceProfile::read(path, "127.0.0.1", &profile, &problem)) {
        if (!problem.empty())
            abort();
        // What a read profile produces must be usable as it stands.
        // No placeholder left, and no credentials in the authority; a path
        // may hold an @.
        const std::string url = profile.streamUrl("127.0.0.1", 8000, 2);
        const size_t authority = url.find("://") + 3;
        const std::string host = url.substr(authority, url.find('/', authority) - authority);
        if (url.find('{') != std::string::npos || host.find('@') != std::string::npos)
            abort();
        if (profile.loginCheck().empty() || profile.loginCheck()[0] != '/')
            abort();
        const std::string path2 = profile.stdConfigPath(6768, 4, 732);
        if (path2.find("{command}") != std::string::npos)
            abort();
    } else if (problem.empty() || problem.find('\n') != std::string::npos) {
        abort();
    }
    return 0;
}
