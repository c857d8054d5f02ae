#include "storage/configfile.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <optional>
#include <type_traits>

#include "engine/texttoint.h"
#include "storage/configfields.h"
#include "storage/fileaccess.h"
#include "storage/ioerror.h"

namespace tavoxa {
namespace {

constexpr size_t kIntegerRunLength = 32;
constexpr size_t kRealRunLength = 64;
constexpr char kEndOfFile = 26;  // Ctrl-Z

bool IsBlank(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

bool IsDecimalDigit(char c)
{
    return c >= '0' && c <= '9';
}

int HexDigitValue(char c)
{
    if (IsDecimalDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Hands out the text of one value after another. It does not count lines: it skips blanks and
// control characters before a value and the rest of the line after it, which is what lets a
// file with indented values, blank lines or comments after the numbers load.
class FieldReader {
public:
    explicit FieldReader(std::string_view bytes) : bytes_(bytes.substr(0, bytes.find(kEndOfFile))) {}

    // The next run of at most `maxLength` characters above code 32; empty at the end of file.
    std::string_view NextRun(size_t maxLength)
    {
        while (pos_ < bytes_.size() && IsBlank(bytes_[pos_]))
            ++pos_;
        const size_t start = pos_;
        while (pos_ < bytes_.size() && pos_ - start < maxLength && !IsBlank(bytes_[pos_]))
            ++pos_;
        const std::string_view run = bytes_.substr(start, pos_ - start);
        const size_t lineFeed = bytes_.find('\n', pos_);
        pos_ = lineFeed == std::string_view::npos ? bytes_.size() : lineFeed + 1;
        return run;
    }

private:
    std::string_view bytes_;
    size_t pos_ = 0;
};

// An integer's text is valid when TextToInt would read all of it and the value fits in 32 bits.
// TextToInt stops before a digit once the value passes 214748364 (0x0FFFFFFF), so reading all
// of it means ending at 2147483649 (0xFFFFFFFF) or below.
std::optional<int32_t> ParseInteger(std::string_view run)
{
    size_t i = 0;
    bool negative = false;
    unsigned base = 10;
    if (!run.empty() && (run[0] == '-' || run[0] == '+')) {
        negative = run[0] == '-';
        i = 1;
    } else if (!run.empty() && (run[0] == '$' || run[0] == 'x' || run[0] == 'X')) {
        base = 16;
        i = 1;
    } else if (run.size() >= 2 && run[0] == '0' && (run[1] == 'x' || run[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i == run.size())
        return std::nullopt;
    uint64_t value = 0;
    for (; i < run.size(); ++i) {
        const int digit = base == 16 ? HexDigitValue(run[i]) : (IsDecimalDigit(run[i]) ? run[i] - '0' : -1);
        if (digit < 0)
            return std::nullopt;
        value = value * base + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFu)
            return std::nullopt;
    }
    if (base == 16)  // the 32-bit pattern, as TextToInt gives it
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    if (value > (negative ? 2147483648u : 2147483647u))
        return std::nullopt;
    return static_cast<int32_t>(negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value));
}

// Optional sign, digits with at most one "." among or after them (at least one digit in all),
// optional exponent "E"/"e" with optional sign and at least one digit. The value is computed
// in extended precision and then stored as float64. The non-finite forms are accepted too, so
// that every file the program writes reads back.
std::optional<double> ParseReal(std::string_view run)
{
    if (run == "Nan")
        return std::nan("");
    if (run == "+Inf" || run == "Inf")
        return HUGE_VAL;
    if (run == "-Inf")
        return -HUGE_VAL;

    size_t i = 0;
    const bool negative = !run.empty() && run[0] == '-';
    if (!run.empty() && (run[0] == '-' || run[0] == '+'))
        ++i;
    const size_t intStart = i;
    while (i < run.size() && IsDecimalDigit(run[i]))
        ++i;
    const std::string_view intDigits = run.substr(intStart, i - intStart);
    std::string_view fracDigits;
    if (i < run.size() && run[i] == '.') {
        const size_t fracStart = ++i;
        while (i < run.size() && IsDecimalDigit(run[i]))
            ++i;
        fracDigits = run.substr(fracStart, i - fracStart);
    }
    if (intDigits.empty() && fracDigits.empty())
        return std::nullopt;
    bool negativeExponent = false;
    std::string_view expDigits;
    if (i < run.size() && (run[i] == 'E' || run[i] == 'e')) {
        ++i;
        if (i < run.size() && (run[i] == '-' || run[i] == '+')) {
            negativeExponent = run[i] == '-';
            ++i;
        }
        const size_t expStart = i;
        while (i < run.size() && IsDecimalDigit(run[i]))
            ++i;
        expDigits = run.substr(expStart, i - expStart);
        if (expDigits.empty())
            return std::nullopt;
    }
    if (i != run.size())
        return std::nullopt;

    // from_chars takes neither "+" nor a bare "." and never looks at the locale.
    std::string text;
    text.reserve(run.size() + 4);
    if (negative)
        text += '-';
    text += intDigits.empty() ? std::string_view("0") : intDigits;
    text += '.';
    text += fracDigits.empty() ? std::string_view("0") : fracDigits;
    text += 'e';
    text += negativeExponent ? '-' : '+';
    text += expDigits.empty() ? std::string_view("0") : expDigits;
    long double value = 0.0L;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        // At most 63 digits: only an exponent far out of range gets here, and its sign
        // tells overflow from underflow.
        value = negativeExponent ? 0.0L : HUGE_VALL;
        if (negative)
            value = -value;
    } else if (error != std::errc()) {
        return std::nullopt;
    }
    // The largest doubles are written rounded up beyond the float64 range (DBL_MAX as
    // "1.79769313486232E+0308"); such a text still means that value, not an overflow to infinity.
    constexpr long double kLargestWritten = 1.79769313486232e308L;
    if (std::fabs(value) > kLargestWritten)
        return negative ? -HUGE_VAL : HUGE_VAL;
    if (std::fabs(value) > DBL_MAX)
        return negative ? -DBL_MAX : DBL_MAX;
    return static_cast<double>(value);
}

// Stores the next value in `field`; false when the file has no more values (the field is then
// 0). An integer that does not convert is stored as TextToInt reads it, a real that does not
// convert is left as it was; both throw IoError 106.
bool ReadValue(FieldReader& in, int32_t& field)
{
    const std::string_view run = in.NextRun(kIntegerRunLength);
    if (run.empty()) {
        field = 0;
        return false;
    }
    const std::optional<int32_t> value = ParseInteger(run);
    field = value ? *value : TextToInt(run);
    if (!value)
        throw IoError(kIoInvalidNumber);
    return true;
}

bool ReadValue(FieldReader& in, double& field)
{
    const std::string_view run = in.NextRun(kRealRunLength);
    if (run.empty()) {
        field = 0.0;
        return false;
    }
    const std::optional<double> value = ParseReal(run);
    if (!value)
        throw IoError(kIoInvalidNumber);
    field = *value;
    return true;
}

void AppendLine(std::string& out, std::string_view text)
{
    out += text;
    out += "\r\n";
}

void AppendInteger(std::string& out, int64_t value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    AppendLine(out, std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

// Copies a file that failed to load to "<name>.bak" before it is first replaced.
void KeepFailedFile(const std::string& path, StorageState& state)
{
    if (path.empty())
        return;
    const auto pending = state.PendingBackups.find(AbsoluteFilePath(path));
    if (pending == state.PendingBackups.end())
        return;
    CheckReplaceable(path);  // a save that will be refused anyway needs no copy yet
    const std::optional<std::string> contents = ReadWholeFile(path);
    if (!contents) {
        if (FileExists(path))  // there but unreadable: replacing it would lose what it holds
            throw IoError(kIoAccessDenied);
        state.PendingBackups.erase(pending);  // the file is gone: nothing left to keep
        return;
    }
    // The copy is as private as the file it copies.
    WriteFileAtomicallyWithMode(BackupName(path), *contents, FileMode(path).value_or(0600));
    state.PendingBackups.erase(pending);
}

}  // namespace

std::string FormatReal(double value)
{
    if (std::isnan(value))
        return std::string(kRealFieldWidth - 3, ' ') + "Nan";
    if (std::isinf(value))
        return std::string(kRealFieldWidth - 4, ' ') + (value > 0 ? "+Inf" : "-Inf");
    if (value == 0.0)
        return " 0.00000000000000E+0000";

    // 18 significant digits, correctly rounded and locale-free: "d.ddddddddddddddddde-XXX".
    char buffer[40];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific, 17);
    const std::string_view expanded(buffer, static_cast<size_t>(result.ptr - buffer));
    char digits[18];
    digits[0] = expanded[0];
    for (int k = 1; k < 18; ++k)
        digits[k] = expanded[static_cast<size_t>(k) + 1];
    int exponent = 0;
    std::from_chars(expanded.data() + 21, expanded.data() + expanded.size(), exponent);
    if (expanded[20] == '-')
        exponent = -exponent;

    // Keep 15 digits; the 16th alone decides, and a carry may run through all of them.
    if (digits[15] >= '5') {
        int k = 14;
        while (k >= 0 && digits[k] == '9')
            digits[k--] = '0';
        if (k >= 0) {
            ++digits[k];
        } else {
            digits[0] = '1';
            ++exponent;
        }
    }

    std::string out;
    out.reserve(kRealFieldWidth);
    out += value < 0 ? '-' : ' ';
    out += digits[0];
    out += '.';
    out.append(digits + 1, 14);
    out += 'E';
    out += exponent < 0 ? '-' : '+';
    const std::string magnitude = std::to_string(std::abs(exponent));
    out.append(4 - magnitude.size(), '0');
    out += magnitude;
    return out;
}

std::string WriteConfiguration(const StoredSettings& settings, int32_t comNumber, uint8_t chipAddress)
{
    std::string out;
    out.reserve(static_cast<size_t>(kConfigLineCount) * (kRealFieldWidth + 2));
    VisitConfigFields(settings, comNumber, chipAddress, [&out](const auto& value, const ConfigField&) {
        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, double>)
            AppendLine(out, FormatReal(value));
        else
            AppendInteger(out, value);
    });
    return out;
}

void ReadConfiguration(std::string_view bytes, ConfigTarget& target)
{
    FieldReader in(bytes);
    target.ValuesRead = 0;
    VisitConfigFields(target.Settings, target.ComNumber, target.ChipAddress,
                      [&](auto& value, const ConfigField&) {
                          if (ReadValue(in, value))
                              ++target.ValuesRead;
                      });
}

std::string EffectiveConfigName(const std::string& configFileName)
{
    return configFileName.empty() ? std::string(kDefaultConfigName) : configFileName;
}

std::string BackupName(const std::string& path)
{
    return path + ".bak";
}

bool LoadConfigurationFile(const std::string& path, ConfigTarget& target, StorageState& state)
{
    try {
        const std::optional<std::string> bytes = ReadWholeFile(path);
        if (!bytes)
            return false;
        ReadConfiguration(*bytes, target);
    } catch (const IoError&) {
        state.PendingBackups.insert(AbsoluteFilePath(path));
        throw;
    }
    // A whole file that loads now holds nothing that a save could lose; a file that ends early
    // may be one cut short by accident, and the next save would make the cut final.
    if (target.ValuesRead < kConfigLineCount)
        state.PendingBackups.insert(AbsoluteFilePath(path));
    else
        state.PendingBackups.erase(AbsoluteFilePath(path));
    return true;
}

std::string ShortFileMessage(int valuesRead)
{
    return "ends after " + std::to_string(valuesRead) + " of " + std::to_string(kConfigLineCount) + " values";
}

void SaveConfigurationFile(const std::string& path, const StoredSettings& settings, int32_t comNumber,
                           uint8_t chipAddress, StorageState& state)
{
    const std::string bytes = WriteConfiguration(settings, comNumber, chipAddress);
    KeepFailedFile(path, state);
    WriteFileAtomically(path, bytes);
}

}  // namespace tavoxa
