#include "history/HistoryPath.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {

std::string HomeFolder()
{
    const char *home = std::getenv("HOME");
    if (home != nullptr && *home != '\0')
        return home;
    const passwd *user = ::getpwuid(::getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "/";
}

} // namespace

std::string DefaultHistoryPath()
{
    // A relative XDG_DATA_HOME is invalid and to be ignored, as for the other XDG variables.
    const char *data = std::getenv("XDG_DATA_HOME");
    const std::string folder =
        data != nullptr && data[0] == '/' ? std::string(data) : HomeFolder() + "/.local/share";
    return folder + "/fennick/history.sqlite";
}
