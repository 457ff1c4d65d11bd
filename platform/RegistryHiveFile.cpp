// Locked, atomic replacement of the hive file, and where the file is.
#include "platform/RegistryHiveFile.h"

#include <cerrno>
#include <cstring>
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

namespace {

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

// Temporary files left by a writer that died: under the lock nobody else writes one.
void RemoveStaleTemporaries(const std::string &path)
{
    std::error_code ec;
    const std::string base = std::filesystem::path(path).filename().string() + ".tmp-";
    for (const auto &entry : std::filesystem::directory_iterator(DirOf(path), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, base.size(), base) == 0)
            std::filesystem::remove(entry.path(), ec);
    }
}

// `<path>.bak` becomes the file now at `path`: a hard link where the file system has them,
// else a synced copy of `oldBytes`; made under a temporary name and renamed, so that a crash
// leaves the previous backup or the new one.
bool KeepBackup(const std::string &path, const std::string &oldBytes, mode_t mode, std::string &why)
{
    const std::string tmpPath = path + ".tmp-bak";
    unlink(tmpPath.c_str());
    if (link(path.c_str(), tmpPath.c_str()) != 0) {
        TFd copy(open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (copy.Fd < 0 || !WriteAll(copy.Fd, oldBytes) || fsync(copy.Fd) != 0) {
            why = ErrnoText(errno);
            unlink(tmpPath.c_str());
            return false;
        }
    }
    if (rename(tmpPath.c_str(), (path + ".bak").c_str()) != 0) {
        why = ErrnoText(errno);
        unlink(tmpPath.c_str());
        return false;
    }
    return true;
}

void RunBeforeReplaceHook()
{
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> g(gSettingsMutex);
        hook = gBeforeReplaceHook;
    }
    if (hook)
        hook();
}

} // namespace

bool ReplaceFile(const std::string &path, const std::string &bytes, const TReplaceOptions &options, std::string &why)
{
    std::string tmpl = path + ".tmp-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int tmpFd = mkstemp(name.data());
    if (tmpFd < 0) {
        why = ErrnoText(errno);
        return false;
    }
    TFd tmp(tmpFd);
    const std::string tmpPath(name.data());
    bool ok = fchmod(tmp.Fd, options.Mode) == 0 && WriteAll(tmp.Fd, bytes) && fsync(tmp.Fd) == 0;
    if (!ok)
        why = ErrnoText(errno);
    if (ok && options.Backup)
        ok = KeepBackup(path, *options.Backup, options.Mode, why);
    if (ok) {
        RunBeforeReplaceHook();
        ok = rename(tmpPath.c_str(), path.c_str()) == 0;
        if (!ok)
            why = ErrnoText(errno);
    }
    if (!ok) {
        unlink(tmpPath.c_str());
        return false;
    }
    TFd dirFd(open(DirOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Fd >= 0)
        (void)fsync(dirFd.Fd);
    return true;
}

THiveWrite ModifyHiveFile(const std::string &path, const std::function<bool(THiveDoc &)> &change, bool keepBackup)
{
    THiveWrite result;
    std::error_code ec;
    std::filesystem::create_directories(DirOf(path), ec);
    if (ec) {
        result.Why = ec.message();
        return result;
    }
    TFd lock(open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.Fd < 0) {
        result.Why = ErrnoText(errno);
        return result;
    }
    while (flock(lock.Fd, LOCK_EX) != 0)
        if (errno != EINTR) {
            result.Why = ErrnoText(errno);
            return result;
        }

    std::string bytes;
    const TReadStatus status = ReadFile(path, bytes);
    if (status == rsError) {
        result.Why = ErrnoText(errno);
        return result;
    }
    THiveDoc doc = ParseDoc(bytes);
    if (!doc.Result.Complete) {
        result.Why = "the file is not valid at line " + std::to_string(doc.Result.ErrorLine) + ": " + doc.Result.Error;
        return result;
    }
    if (status == rsMissing)
        doc.Eol = "\n";
    if (!change(doc)) {
        result.Ok = true;
        return result;
    }
    result.Changed = true;
    RemoveStaleTemporaries(path);
    struct stat st{};
    TReplaceOptions options;
    options.Mode = (status == rsOk && stat(path.c_str(), &st) == 0) ? (st.st_mode & 07777) : 0600;
    if (keepBackup && status == rsOk)
        options.Backup = &bytes;
    result.Ok = ReplaceFile(path, Serialize(doc), options, result.Why);
    return result;
}

bool ModifyHive(const std::function<bool(THiveDoc &)> &change, bool &changed)
{
    const THiveWrite result = ModifyHiveFile(RegistryFile(), change, false);
    changed = result.Changed;
    return result.Ok;
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
