#include "hivefile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <ctime>
#include <mutex>
#include <set>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrelo::registry {

namespace fs = std::filesystem;

namespace {

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

fs::path homeDirectory()
{
    std::string home = environment("HOME");
    if (home.empty()) {
        if (const passwd *entry = getpwuid(getuid()))
            home = entry->pw_dir;
    }
    return home;
}

bool isUser(HiveId id) { return id == HiveId::User; }

mode_t fileMode(HiveId id) { return isUser(id) ? 0600 : 0644; }
mode_t directoryMode(HiveId id) { return isUser(id) ? 0700 : 0755; }

LONG errorFromErrno(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
        return ERROR_OUTOFMEMORY;
    default:
        return ERROR_CANTWRITE;
    }
}

// Each distinct problem is told once per process; the same unreadable file read a thousand
// times is one message.
void report(const std::string &message)
{
    static std::mutex mutex;
    static std::set<std::string> told;
    const std::lock_guard lock(mutex);
    if (told.insert(message).second)
        std::fprintf(stderr, "clipvane: %s\n", message.c_str());
}

enum class ReadStatus { Ok, Missing, Unreadable };

ReadStatus readFile(const fs::path &path, std::string &text, int &error)
{
    text.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return error == ENOENT ? ReadStatus::Missing : ReadStatus::Unreadable;
    }
    char buffer[65536];
    ssize_t count;
    while ((count = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (count < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            ::close(fd);
            return ReadStatus::Unreadable;
        }
        text.append(buffer, static_cast<size_t>(count));
    }
    ::close(fd);
    return ReadStatus::Ok;
}

class FileLock final {
public:
    explicit FileLock(const fs::path &path, mode_t mode)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
        if (m_fd < 0) {
            m_error = errno;
            return;
        }
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                m_error = errno;
                ::close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // closing the descriptor releases the lock
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    bool held() const { return m_fd >= 0; }
    int error() const { return m_error; }

private:
    int m_fd = -1;
    int m_error = 0;
};

fs::path lockPath(const fs::path &hive) { return fs::path(hive.string() + ".lock"); }

// A name beside the hive that says what happened and when, never one that exists already.
fs::path quarantinePath(const fs::path &hive)
{
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = hive.string() + ".corrupt-" + stamp;
    fs::path candidate = base;
    for (int n = 2; fs::exists(candidate); ++n)
        candidate = base + "-" + std::to_string(n);
    return candidate;
}

// Called with the hive's lock held, after the file failed to parse. Returns true when the file
// is out of the way (moved aside, or gone meanwhile).
bool moveAside(const fs::path &path, const ParseError &error)
{
    const std::string what = "the registry hive " + path.string() + " cannot be read (line " +
                             std::to_string(error.line) + ": " + error.message + ")";
    const fs::path aside = quarantinePath(path);
    if (::rename(path.c_str(), aside.c_str()) == 0) {
        report(what + ". It was moved aside to " + aside.string() + "; its settings start empty.");
        return true;
    }
    if (errno == ENOENT)
        return true;
    report(what + " and could not be moved aside (" + std::strerror(errno) +
           "). It is ignored and left untouched; repair or remove it.");
    return false;
}

enum class LoadResult { Ok, Corrupt, Failed };

// Reads and parses the file; `lockHeld` says whether a corrupt file may be moved aside now.
LoadResult load(const fs::path &path, Hive &hive, bool lockHeld)
{
    std::string text;
    int error = 0;
    switch (readFile(path, text, error)) {
    case ReadStatus::Missing:
        hive.root().clear();
        return LoadResult::Ok;
    case ReadStatus::Unreadable:
        report("the registry hive " + path.string() + " cannot be opened (" + std::strerror(error) +
               "); it reads as empty.");
        hive.root().clear();
        return LoadResult::Failed;
    case ReadStatus::Ok:
        break;
    }
    ParseError parseError;
    if (parseHive(text, hive, parseError))
        return LoadResult::Ok;
    hive.root().clear();
    if (lockHeld)
        return moveAside(path, parseError) ? LoadResult::Ok : LoadResult::Corrupt;
    return LoadResult::Corrupt;
}

bool writeAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(count);
    }
    return true;
}

// Temporary file, flush to disk, rename over the hive, flush the directory entry.
LONG storeAtomically(const fs::path &path, HiveId id, const std::string &text)
{
    std::string pattern = path.string() + ".XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return errorFromErrno(errno);
    const bool ok = ::fchmod(fd, fileMode(id)) == 0 && writeAll(fd, text) && ::fsync(fd) == 0;
    const int error = errno;
    if (::close(fd) != 0 || !ok || ::rename(pattern.c_str(), path.c_str()) != 0) {
        const int failure = ok ? errno : error;
        ::unlink(pattern.c_str());
        return errorFromErrno(failure);
    }
    const int dir = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return ERROR_SUCCESS;
}

LONG ensureDirectory(const fs::path &dir, HiveId id)
{
    std::error_code error;
    if (fs::is_directory(dir, error))
        return ERROR_SUCCESS;
    fs::create_directories(dir, error);
    if (error)
        return errorFromErrno(error.value());
    fs::permissions(dir, static_cast<fs::perms>(directoryMode(id)), error);
    return ERROR_SUCCESS;
}

} // namespace

fs::path hivePath(HiveId id)
{
    const char *fileName = isUser(id) ? "user.reg" : "machine.reg";
    if (const std::string dir = environment("TAVRELO_REGISTRY_DIR"); !dir.empty())
        return fs::path(dir) / fileName;
    if (isUser(id)) {
        fs::path config = environment("XDG_CONFIG_HOME");
        if (!config.is_absolute())
            config = homeDirectory() / ".config";
        return config / "tavrelo" / fileName;
    }
    // The folders in order of preference, as the base-directory rules search them: the first
    // one that holds a machine hive, else the first of all. A desktop session that puts a folder
    // of its own first (/etc/xdg/xdg-ubuntu:/etc/xdg) still finds the machine's registration.
    std::vector<fs::path> folders;
    const std::string dirs = environment("XDG_CONFIG_DIRS");
    for (std::size_t start = 0; start <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        if (const fs::path folder = dirs.substr(start, end - start); folder.is_absolute())
            folders.push_back(folder / "tavrelo" / fileName);
        start = end + 1;
    }
    if (folders.empty())
        folders.push_back(fs::path("/etc/xdg") / "tavrelo" / fileName);
    for (const fs::path &path : folders) {
        std::error_code error;
        if (fs::exists(path, error))
            return path;
    }
    return folders.front();
}

Hive readHive(HiveId id)
{
    const fs::path path = hivePath(id);
    Hive hive;
    if (load(path, hive, false) == LoadResult::Corrupt) {
        // Move it aside under the lock, so that no writer works on the file meanwhile; a
        // reader that may not write there leaves it and reads empty.
        if (ensureDirectory(path.parent_path(), id) == ERROR_SUCCESS) {
            const FileLock lock(lockPath(path), fileMode(id));
            if (lock.held()) {
                load(path, hive, true);
                return hive;
            }
        }
        report("the registry hive " + path.string() + " cannot be read; it is ignored and left untouched.");
    }
    return hive;
}

LONG changeHive(HiveId id, const HiveChange &change)
{
    const fs::path path = hivePath(id);
    if (const LONG error = ensureDirectory(path.parent_path(), id); error != ERROR_SUCCESS)
        return error;
    const FileLock lock(lockPath(path), fileMode(id));
    if (!lock.held())
        return errorFromErrno(lock.error());

    Hive hive;
    switch (load(path, hive, true)) {
    case LoadResult::Ok:
        break;
    case LoadResult::Corrupt:
        return ERROR_BADDB;
    case LoadResult::Failed:
        return ERROR_ACCESS_DENIED; // never write over a file we could not read
    }
    bool changed = false;
    if (const LONG result = change(hive, changed); result != ERROR_SUCCESS || !changed)
        return result;
    return storeAtomically(path, id, serializeHive(hive, isUser(id) ? "Clipvane settings of this user (HKEY_CURRENT_USER)"
                                                                      : "Clipvane settings of this machine (HKEY_LOCAL_MACHINE)"));
}

} // namespace tavrelo::registry
