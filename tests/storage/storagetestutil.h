// Helpers shared by the storage tests.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "engine/model.h"
#include "storage/configfields.h"

namespace tavoxa::testing {

// The lines joined, each ended by CR LF.
inline std::string JoinLines(const std::vector<std::string>& lines, const char* end = "\r\n")
{
    std::string out;
    for (const std::string& line : lines)
        out += line + end;
    return out;
}

// The lines of a text that ends every line with CR LF (the CR LF removed).
inline std::vector<std::string> SplitCrLf(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    if (start != text.size())
        lines.push_back(text.substr(start));  // an unterminated rest shows up as an extra line
    return lines;
}

// Every persisted setting filled with values from the whole range of its type.
inline Model RandomSettings(unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int32_t> anyInt(INT32_MIN, INT32_MAX);
    std::uniform_real_distribution<double> day(-700000.0, 2958465.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Model m;
    int k = 0;
    VisitStoredFields(m, [&](auto& v, const ConfigField& f) {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, double>) {
            if (std::strcmp(f.Table, "TimeTable") == 0)  // dates, times of day and tiny negatives
                v = (k++ % 3 == 0) ? day(rng) : (k % 3 == 1 ? unit(rng) : -unit(rng) * 1e-9);
            else
                v = day(rng) * unit(rng);
        } else {
            v = anyInt(rng);
        }
    });
    return m;
}

// Every stored field filled with one value, to see which fields a load touched.
inline Model FilledSettings(int32_t integer, double real)
{
    Model m;
    VisitStoredFields(m, [&](auto& v, const ConfigField&) {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, double>)
            v = real;
        else
            v = integer;
    });
    return m;
}

// The stored settings bit for bit (reals by their bits, so a NaN read back counts as the NaN
// written).
inline bool SameStoredSettings(const StoredSettings& a, const StoredSettings& b)
{
    std::vector<uint64_t> bits[2];
    for (int i = 0; i < 2; ++i)
        VisitStoredFields(i == 0 ? a : b, [&](const auto& v, const ConfigField&) {
            uint64_t x = 0;
            std::memcpy(&x, &v, sizeof v);
            bits[i].push_back(x);
        });
    return bits[0] == bits[1];
}

inline std::string FileBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<missing>";
    const QByteArray data = f.readAll();
    return std::string(data.constData(), static_cast<size_t>(data.size()));
}

inline void PutFile(const QString& path, const std::string& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

inline std::string Path(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

// File contents and folder listings by the bytes of the names, for names Qt cannot hold.
inline std::string RawFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

inline void PutRawFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::vector<std::string> RawEntries(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline unsigned FileMode(const std::string& path)
{
    return static_cast<unsigned>(std::filesystem::status(path).permissions()) & 07777u;
}

// Folder permissions bind every user but the superuser, who runs the tests in CI. Run as root,
// `body` therefore runs in a child process switched to the user "nobody" (GiveToTestUser hands
// that user the files it needs); run as anyone else, it runs right here. Returns what `body`
// returns (0..199), or -1 with `why` set when there is no user to switch to.
inline int AsUnprivilegedUser(const std::function<int()>& body, std::string* why)
{
    if (::geteuid() != 0)
        return body();
    const passwd* user = ::getpwnam("nobody");
    if (!user) {
        *why = "running as root and there is no user \"nobody\" to switch to";
        return -1;
    }
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(200);
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) == 200) {
        *why = "cannot run a child process as the user \"nobody\"";
        return -1;
    }
    return WEXITSTATUS(status);
}

// Hands `path` to the user AsUnprivilegedUser switches to (nothing to do when not root).
inline bool GiveToTestUser(const std::string& path)
{
    if (::geteuid() != 0)
        return true;
    const passwd* user = ::getpwnam("nobody");
    return user && ::chown(path.c_str(), user->pw_uid, user->pw_gid) == 0;
}

}  // namespace tavoxa::testing
