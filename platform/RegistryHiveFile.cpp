// Locked, atomic replacement of the hive file, and where the file is.
#include "platform/RegistryHiveFile.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex gSettingsMutex;
std::string gRegistryFile;
std::function<void()> gBeforeReplaceHook;

} // namespace

namespace RegHive {

namespace {

struct TFd {
    int Fd = -1;
    explicit TFd(int fd) : Fd(fd) {}
    ~TFd()
    {
        if (Fd >= 0)
            close(Fd);
    }
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
};

enum TReadStatus { rsOk, rsMissing, rsError };

TReadStatus ReadFile(const std::string &path, std::string &bytes)
{
    bytes.clear();
    TFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Fd < 0)
        return errno == ENOENT ? rsMissing : rsError;
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd.Fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return rsError;
        }
        if (n == 0)
            return rsOk;
        bytes.append(buf, static_cast<size_t>(n));
    }
}

bool WriteAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::string DirOf(const std::string &path)
{
    std::filesystem::path p(path);
    std::filesystem::path dir = p.parent_path();
    return dir.empty() ? std::string(".") : dir.string();
}

THiveParseResult LoadHive()
{
    std::string bytes;
    TReadStatus status = ReadFile(RegistryFile(), bytes);
    if (status == rsOk)
        return ParseHive(bytes);
    THiveParseResult empty;
    empty.Complete = status == rsMissing;
    if (status == rsError) {
        empty.ErrorLine = 0;
        empty.Error = "hive cannot be read";
    }
    return empty;
}

bool ModifyHive(const std::function<bool(THiveDoc &)> &change, bool &changed)
{
    changed = false;
    const std::string path = RegistryFile();
    const std::string dir = DirOf(path);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        return false;

    TFd lock(open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.Fd < 0)
        return false;
    while (flock(lock.Fd, LOCK_EX) != 0)
        if (errno != EINTR)
            return false;

    std::string bytes;
    TReadStatus status = ReadFile(path, bytes);
    if (status == rsError)
        return false;
    THiveDoc doc = ParseDoc(bytes);
    if (!doc.Result.Complete)
        return false;
    if (status == rsMissing)
        doc.Eol = "\n";
    if (!change(doc))
        return true;
    changed = true;
    const std::string out = Serialize(doc);

    // Temporary files left by a writer that died: under the lock nobody else writes one.
    const std::string base = std::filesystem::path(path).filename().string() + ".tmp-";
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, base.size(), base) == 0)
            std::filesystem::remove(entry.path(), ec);
    }

    std::string tmpl = path + ".tmp-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int tmpFd = mkstemp(name.data());
    if (tmpFd < 0)
        return false;
    TFd tmp(tmpFd);
    const std::string tmpPath(name.data());
    struct stat st{};
    mode_t mode = (status == rsOk && stat(path.c_str(), &st) == 0) ? (st.st_mode & 07777) : 0600;
    bool ok = fchmod(tmp.Fd, mode) == 0 && WriteAll(tmp.Fd, out) && fsync(tmp.Fd) == 0;
    if (ok) {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> g(gSettingsMutex);
            hook = gBeforeReplaceHook;
        }
        if (hook)
            hook();
        ok = rename(tmpPath.c_str(), path.c_str()) == 0;
    }
    if (!ok) {
        unlink(tmpPath.c_str());
        return false;
    }
    TFd dirFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Fd >= 0)
        (void)fsync(dirFd.Fd);
    return true;
}

bool ModifyHive(const std::function<bool(THiveDoc &)> &change)
{
    bool changed;
    return ModifyHive(change, changed);
}

} // namespace RegHive

std::string RegistryFile()
{
    {
        std::lock_guard<std::mutex> lock(gSettingsMutex);
        if (!gRegistryFile.empty())
            return gRegistryFile;
    }
    if (const char *env = std::getenv("FENNICK_REGISTRY"); env && *env)
        return env;
    if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && xdg[0] == '/')
        return std::string(xdg) + "/fennick/registry.reg";
    const char *home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/fennick/registry.reg";
}

void SetRegistryFile(const std::string &path)
{
    std::lock_guard<std::mutex> lock(gSettingsMutex);
    gRegistryFile = path;
}

void SetRegistryBeforeReplaceHook(std::function<void()> hook)
{
    std::lock_guard<std::mutex> lock(gSettingsMutex);
    gBeforeReplaceHook = std::move(hook);
}
