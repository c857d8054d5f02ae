// Helpers shared by the storage tests.
#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstring>
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

// Makes `dir` the current directory for the lifetime of the guard.
class CurrentDirGuard {
public:
    explicit CurrentDirGuard(const QString& dir) : saved_(QDir::currentPath()) { QDir::setCurrent(dir); }
    ~CurrentDirGuard() { QDir::setCurrent(saved_); }
    CurrentDirGuard(const CurrentDirGuard&) = delete;
    CurrentDirGuard& operator=(const CurrentDirGuard&) = delete;

private:
    QString saved_;
};

}  // namespace tavoxa::testing
