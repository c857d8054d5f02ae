#include "storage/fileaccess.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>
#include <vector>

#include "storage/ioerror.h"

// Every function here works on the path's bytes as they are. Qt's file classes take names as
// text, and a name that is not valid in the locale's encoding (a Latin-1 name from an older
// machine in a UTF-8 locale) would not survive the conversion: it would name another file.

namespace tavoxa {
namespace {

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether the close succeeded (a network file system may report a
    // failed write only here).
    bool Close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

int ErrnoCode(int error, bool writing)
{
    switch (error) {
        case ENOSPC:
        case EDQUOT:
            return kIoDiskFull;
        case EACCES:
        case EPERM:
            return kIoAccessDenied;
        default:
            return writing ? kIoWriteFault : kIoReadFault;
    }
}

bool StatPath(const std::string& path, struct stat& info)
{
    return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

void WriteAllTo(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw IoError(ErrnoCode(n < 0 ? errno : ENOSPC, true));
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

// The file a name stands for: a symbolic link is followed, so that a save replaces the file it
// points to and the link stays.
std::string ResolvedTarget(const std::string& path)
{
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
        return path;
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes over the file itself, for a folder where no file can be created. Not atomic: the
// price of saving at all there.
void WriteInPlace(const std::string& path, std::string_view bytes)
{
    Descriptor fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        throw IoError(kIoCannotCreate);
    WriteAllTo(fd.get(), bytes);
    if (::fsync(fd.get()) != 0 || !fd.Close())
        throw IoError(ErrnoCode(errno, true));
}

}  // namespace

int PlatformErrorCode(QFileDevice::FileError error, bool writing)
{
    switch (error) {
        case QFileDevice::ResourceError:
            return kIoDiskFull;
        case QFileDevice::PermissionsError:
        case QFileDevice::RenameError:
            return kIoAccessDenied;
        default:
            return writing ? kIoWriteFault : kIoReadFault;
    }
}

std::optional<std::string> ReadWholeFile(const std::string& path)
{
    struct stat info {};
    if (!StatPath(path, info) || !S_ISREG(info.st_mode))
        return std::nullopt;
    // O_NONBLOCK: should the name have become a pipe since the check, the open must not wait.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw IoError(ErrnoCode(errno, false));
        if (n == 0)
            return data;
        data.append(buffer, static_cast<size_t>(n));
    }
}

bool FileExists(const std::string& path)
{
    struct stat info {};
    return StatPath(path, info);
}

bool IsWriteProtected(const std::string& path)
{
    struct stat info {};
    if (!StatPath(path, info))
        return false;
    return !(info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) || ::access(path.c_str(), W_OK) != 0;
}

void WriteAll(QFileDevice& file, std::string_view bytes)
{
    const qint64 size = static_cast<qint64>(bytes.size());
    if (file.write(bytes.data(), size) != size || !file.flush())
        throw IoError(PlatformErrorCode(file.error(), true));
}

void CheckReplaceable(const std::string& path)
{
    if (path.empty())
        throw IoError(kIoCannotCreate);
    // The replace renames a new file over the old one, which needs only the folder's
    // permission: without this check it would overwrite a write-protected file or a device.
    struct stat info {};
    if (StatPath(path, info) && (!S_ISREG(info.st_mode) || IsWriteProtected(path)))
        throw IoError(kIoCannotCreate);
}

void WriteReplacing(const std::string& path, std::string_view bytes, mode_t newFileMode, bool exactMode);

void WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t newFileMode)
{
    WriteReplacing(path, bytes, newFileMode, false);
}

void WriteFileAtomicallyWithMode(const std::string& path, std::string_view bytes, mode_t mode)
{
    WriteReplacing(path, bytes, mode, true);
}

std::optional<mode_t> FileMode(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return info.st_mode & 07777;
}

std::vector<std::string> RemoveStaleTemporaries(const std::vector<std::string>& targets)
{
    std::vector<std::string> removed;
    for (const std::string& target : targets) {
        const std::string resolved = ResolvedTarget(target);
        const std::string folder = DirectoryOf(resolved);
        const std::string prefix = resolved.substr(resolved.find_last_of('/') + 1) + ".tmp";
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
            continue;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() <= prefix.size() || name.size() > prefix.size() + 6 ||
                name.compare(0, prefix.size(), prefix) != 0 ||
                name.find_first_not_of("0123456789", prefix.size()) != std::string::npos)
                continue;
            std::string path = folder;
            path += '/';
            path += name;
            struct stat info {};
            if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
                ::unlink(path.c_str()) == 0)
                removed.push_back(path);
        }
        ::closedir(dir);
    }
    return removed;
}

void WriteReplacing(const std::string& path, std::string_view bytes, mode_t newFileMode, bool exactMode)
{
    CheckReplaceable(path);
    const std::string target = ResolvedTarget(path);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;

    // The new file starts out private and gets its final mode only when it is complete.
    std::string temporary;
    int created = -1;
    int openError = 0;
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && created < 0; ++attempt) {
        temporary = target + ".tmp" + std::to_string(seed() % 1000000u);
        created = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
        openError = errno;
        if (created < 0 && openError != EEXIST)
            break;
    }
    if (created < 0) {
        // A folder in which nothing can be created, holding a file that may be written: the
        // file itself is written over, as the only way to save there.
        if ((openError == EACCES || openError == EPERM) && exists && ::access(target.c_str(), W_OK) == 0)
            return WriteInPlace(target, bytes);
        throw IoError(kIoCannotCreate);
    }
    Descriptor fd(created);
    try {
        WriteAllTo(fd.get(), bytes);
        mode_t mode = newFileMode;
        if (exactMode) {
            // as given
        } else if (exists) {
            mode = old.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode &= ~mask;
        }
        if (::fchmod(fd.get(), mode) != 0 || ::fsync(fd.get()) != 0 || !fd.Close())
            throw IoError(ErrnoCode(errno, true));
        if (::rename(temporary.c_str(), target.c_str()) != 0)
            throw IoError(kIoAccessDenied);
    } catch (const IoError&) {
        ::unlink(temporary.c_str());
        throw;
    }
    // The rename is only lasting once the folder is on disk too.
    Descriptor folder(::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0)
        ::fsync(folder.get());
}

std::string AbsoluteFilePath(const std::string& path)
{
    std::string full = path;
    if (full.empty() || full[0] != '/') {
        std::vector<char> cwd(PATH_MAX);
        full = (::getcwd(cwd.data(), cwd.size()) ? std::string(cwd.data()) : std::string()) + "/" + path;
    }
    // Lexically cleaned, as the name was given: "." and empty parts dropped, ".." removes the
    // part before it.
    std::vector<std::string> parts;
    size_t start = 1;
    while (start <= full.size()) {
        size_t end = full.find('/', start);
        if (end == std::string::npos)
            end = full.size();
        const std::string part = full.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out;
    for (const std::string& part : parts)
        out += "/" + part;
    return out.empty() ? "/" : out;
}

}  // namespace tavoxa
