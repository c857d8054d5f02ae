// Helpers shared by the storage tests.
#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/model.h"

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
    for (auto& plane : m.SwitchTable)
        for (auto& relay : plane)
            for (int32_t& v : relay)
                v = anyInt(rng);
    int k = 0;
    for (auto& plane : m.TimeTable)
        for (auto& relay : plane)
            for (double& v : relay)
                v = (k++ % 3 == 0) ? day(rng) : (k % 3 == 1 ? unit(rng) : -unit(rng) * 1e-9);
    for (SecondsTimerRecord& t : m.SecondsTimer)
        t = {anyInt(rng), anyInt(rng), anyInt(rng), anyInt(rng)};
    for (auto& plane : m.WindowTable)
        for (auto& relay : plane)
            for (int32_t& v : relay)
                v = anyInt(rng);
    for (auto& plane : m.WindowTimes)
        for (auto& relay : plane)
            for (double& v : relay)
                v = day(rng) * unit(rng);
    return m;
}

// Every table filled with one value, to see which fields a load touched.
inline Model FilledSettings(int32_t integer, double real)
{
    Model m;
    for (auto& plane : m.SwitchTable)
        for (auto& relay : plane)
            for (int32_t& v : relay)
                v = integer;
    for (auto& plane : m.TimeTable)
        for (auto& relay : plane)
            for (double& v : relay)
                v = real;
    for (SecondsTimerRecord& t : m.SecondsTimer)
        t = {integer, integer, integer, integer};
    for (auto& plane : m.WindowTable)
        for (auto& relay : plane)
            for (int32_t& v : relay)
                v = integer;
    for (auto& plane : m.WindowTimes)
        for (auto& relay : plane)
            for (double& v : relay)
                v = real;
    return m;
}

// Reals compared by their bits, so that a NaN read back counts as the NaN written.
template <size_t P, size_t R, size_t C>
bool SameRealBits(const double (&a)[P][R][C], const double (&b)[P][R][C])
{
    for (size_t p = 0; p < P; ++p)
        for (size_t r = 0; r < R; ++r)
            for (size_t c = 0; c < C; ++c) {
                uint64_t x = 0, y = 0;
                std::memcpy(&x, &a[p][r][c], sizeof x);
                std::memcpy(&y, &b[p][r][c], sizeof y);
                if (x != y)
                    return false;
            }
    return true;
}

// The persisted tables bit for bit (planes 2 and 3 of WindowTable are not stored).
inline bool SameStoredSettings(const Model& a, const Model& b)
{
    return std::memcmp(a.SwitchTable, b.SwitchTable, sizeof a.SwitchTable) == 0 &&
           SameRealBits(a.TimeTable, b.TimeTable) &&
           std::memcmp(a.SecondsTimer, b.SecondsTimer, sizeof a.SecondsTimer) == 0 &&
           std::memcmp(a.WindowTable, b.WindowTable, 2 * sizeof a.WindowTable[0]) == 0 &&
           SameRealBits(a.WindowTimes, b.WindowTimes);
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

}  // namespace tavoxa::testing
