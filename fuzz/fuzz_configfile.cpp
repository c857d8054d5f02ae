// Fuzzes the configuration file reader and writer.
//
// Every input is used three ways:
//  1. as a file: the reader must end with success or I/O error 106, and whatever follows the
//     line of the 314th value must change nothing, neither the values nor the outcome;
//  2. as the bits of a model: the written file has the exact 314-line form, and reading it
//     back gives every integer exactly and every real to 15 significant digits (non-finite
//     reals by class);
//  3. as the choices of a hand-made file: 314 values written in every form the reader takes
//     (hexadecimal, signs, leading zeros, indentation, blank lines, text after the number),
//     followed by the whole input as trailing garbage; it must load without error and give
//     back exactly the values written.
// A violated property prints what differs and aborts.
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "storage/configfields.h"
#include "storage/configfile.h"
#include "storage/ioerror.h"

namespace {

using tavoxa::Model;

constexpr int kIntegerFields = 2 + 108 + 24 + 36;
constexpr int kRealFields = 108 + 36;
static_assert(kIntegerFields + kRealFields == tavoxa::kConfigLineCount, "file layout");

[[noreturn]] void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::abort();
}

struct Loaded {
    Model model;
    int32_t comNumber = 0;
    uint8_t chipAddress = 0;
};

// Walks every stored value in file order: onInt(int32_t&), onChip(uint8_t&), onReal(double&).
template <typename L, typename OnInt, typename OnChip, typename OnReal>
void ForEachField(L& l, OnInt onInt, OnChip onChip, OnReal onReal)
{
    tavoxa::VisitConfigFields(l.model, l.comNumber, l.chipAddress,
                              [&](auto& v, const tavoxa::ConfigField& f) {
                                  using Value = std::remove_reference_t<decltype(v)>;
                                  if constexpr (std::is_same_v<std::remove_const_t<Value>, double>) {
                                      onReal(v);
                                  } else if (f.Line != 1) {
                                      onInt(v);
                                  } else {
                                      uint8_t chip = static_cast<uint8_t>(v);
                                      onChip(chip);
                                      if constexpr (!std::is_const_v<Value>)
                                          v = chip;
                                  }
                              });
}

// Fills every stored field (and the window countdowns, which are not stored) with a
// pattern no file produces by accident, so a value that a load fails to touch shows up.
void FillSentinel(Loaded& l)
{
    int32_t n = 0x5A5A0000;
    double r = -7.77e77;
    ForEachField(
        l, [&](int32_t& v) { v = n++; }, [&](uint8_t& v) { v = 0xA5; }, [&](double& v) { v = r += 1e63; });
    for (auto& plane : l.model.WindowMinutes)
        for (auto& relay : plane)
            for (int32_t& v : relay)
                v = n++;
}

struct Outcome {
    bool threw = false;
    int code = 0;
};

Outcome Read(std::string_view bytes, Loaded& into)
{
    tavoxa::ConfigTarget target(into.model, into.comNumber, into.chipAddress);
    try {
        tavoxa::ReadConfiguration(bytes, target);
    } catch (const tavoxa::IoError& e) {
        return {true, e.Code()};
    }
    return {};
}

// Every stored field and the window countdowns, bit for bit.
std::vector<uint64_t> Bits(const Loaded& l)
{
    std::vector<uint64_t> bits;
    ForEachField(
        l, [&](int32_t v) { bits.push_back(static_cast<uint32_t>(v)); },
        [&](uint8_t v) { bits.push_back(v); },
        [&](double v) {
            uint64_t b = 0;
            std::memcpy(&b, &v, sizeof b);
            bits.push_back(b);
        });
    for (const auto& plane : l.model.WindowMinutes)
        for (const auto& relay : plane)
            for (int32_t v : relay)
                bits.push_back(static_cast<uint32_t>(v));
    return bits;
}

// End of the line that holds the 314th value, counted the way the file format defines fields:
// blanks and control characters (codes up to 32) are skipped across lines before a value, and
// the value's line is consumed through its LF. Nothing when the file has fewer values or its
// last value's line has no LF.
bool EndOfValues(std::string_view bytes, size_t& end)
{
    bytes = bytes.substr(0, bytes.find('\x1a'));
    size_t pos = 0;
    for (int field = 0; field < tavoxa::kConfigLineCount; ++field) {
        while (pos < bytes.size() && static_cast<unsigned char>(bytes[pos]) <= 32)
            ++pos;
        if (pos == bytes.size())
            return false;
        const size_t lf = bytes.find('\n', pos);
        if (lf == std::string_view::npos)
            return false;
        pos = lf + 1;
    }
    end = pos;
    return true;
}

// 1. Arbitrary bytes as a file.
void CheckArbitraryFile(std::string_view bytes)
{
    Loaded first;
    FillSentinel(first);
    const Outcome outcome = Read(bytes, first);
    if (outcome.threw && outcome.code != tavoxa::kIoInvalidNumber)
        Fail("reader raised I/O error %d, only 106 is possible on bytes", outcome.code);

    size_t end = 0;
    if (EndOfValues(bytes, end)) {
        static const std::string kGarbage[] = {
            "",
            "garbage\r\n",
            "\x01-\r\n$\r\n0x\r\n99999999999999999999\r\n1e\r\nNaN\r\n",
            std::string(5000, '7') + "\r\n",
            "\x1a\r\nabc",
        };
        for (const std::string& garbage : kGarbage) {
            const std::string cut = std::string(bytes.substr(0, end)) + garbage;
            Loaded again;
            FillSentinel(again);
            const Outcome o = Read(cut, again);
            if (o.threw != outcome.threw || o.code != outcome.code || Bits(first) != Bits(again))
                Fail(
                    "text after the 314th value's line (at byte %zu) changed the load: garbage of %zu "
                    "bytes gave %s %d, the file %s %d",
                    end, garbage.size(), o.threw ? "error" : "success", o.code,
                    outcome.threw ? "error" : "success", outcome.code);
        }
    }
}

// Cyclic reader of the fuzz input, zero once there is none.
class Choices {
public:
    Choices(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte()
    {
        if (size_ == 0)
            return 0;
        const uint8_t b = data_[pos_];
        pos_ = (pos_ + 1) % size_;
        return b;
    }
    uint32_t U32()
    {
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k)
            v = v << 8 | Byte();
        return v;
    }
    uint64_t U64() { return static_cast<uint64_t>(U32()) << 32 | U32(); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

int32_t PickInteger(Choices& c)
{
    switch (c.Byte() % 4) {
        case 0:
            return static_cast<int32_t>(c.Byte() % 12) - 1;
        case 1: {
            static const int32_t kEdges[] = {INT32_MIN, INT32_MIN + 1, INT32_MAX,  INT32_MAX - 1, 214748364,
                                             214748365, -214748364,    0x0FFFFFFF, 0x10000000,    32,
                                             56,        255,           256};
            return kEdges[c.Byte() % (sizeof kEdges / sizeof kEdges[0])];
        }
        default: {
            const uint32_t bits = c.U32();
            int32_t v;
            std::memcpy(&v, &bits, sizeof v);
            return v;
        }
    }
}

double PickReal(Choices& c)
{
    switch (c.Byte() % 4) {
        case 0: {
            static const double kEdges[] = {0.0,
                                            -0.0,
                                            0.5,
                                            0.75,
                                            1.0 / 3.0,
                                            -1.5,
                                            NAN,
                                            -NAN,
                                            HUGE_VAL,
                                            -HUGE_VAL,
                                            DBL_MAX,
                                            -DBL_MAX,
                                            DBL_MIN,
                                            DBL_TRUE_MIN,
                                            -DBL_TRUE_MIN,
                                            9.99999999999999949e-5,
                                            0.999999999999999944,
                                            9.9999999999999995e22,
                                            1.7976931348623150e308,
                                            1.797693134862315e308,
                                            45292.999988425923,
                                            2.2250738585072009e-308,
                                            1e-320,
                                            0.1,
                                            1e16,
                                            123456789012345.6};
            return kEdges[c.Byte() % (sizeof kEdges / sizeof kEdges[0])];
        }
        case 1:  // a date and time of day as the pickers hold them
            return static_cast<double>(static_cast<int16_t>(c.U32() & 0xFFFF)) + c.U32() / 4294967296.0;
        default: {
            const uint64_t bits = c.U64();
            double v;
            std::memcpy(&v, &bits, sizeof v);
            return v;
        }
    }
}

int DecimalExponent(double x)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17e", std::fabs(x));
    return std::atoi(std::strchr(text, 'e') + 1);
}

// Whether `got` is `want` kept to 15 significant digits: non-finite by class, zero as zero,
// otherwise within half a unit of the 15th digit (with room for the rounding through 18 digits
// that the format prescribes and for the final rounding to float64).
bool Within15Digits(double want, double got)
{
    if (std::isnan(want))
        return std::isnan(got);
    if (std::isinf(want))
        return std::isinf(got) && std::signbit(want) == std::signbit(got);
    if (want == 0.0)
        return got == 0.0;
    if (!std::isfinite(got))
        return false;
    const long double unit = std::pow(10.0L, DecimalExponent(want) - 14);
    const long double tolerance = 0.5005L * unit + std::fabs(std::nextafter(got, HUGE_VAL) - got);
    return std::fabs(static_cast<long double>(got) - want) <= tolerance;
}

// The 23-character real form, derived here from the C library's own 18-digit expansion.
std::string ReferenceRealForm(double x)
{
    if (std::isnan(x))
        return std::string(20, ' ') + "Nan";
    if (std::isinf(x))
        return std::string(19, ' ') + (x > 0 ? "+Inf" : "-Inf");
    if (x == 0.0)
        return " 0.00000000000000E+0000";
    char text[40];
    std::snprintf(text, sizeof text, "%.17e", std::fabs(x));  // d.ddddddddddddddddde+XXX
    std::string digits;
    for (const char* p = text; *p != 'e'; ++p)
        if (*p != '.')
            digits += *p;
    int exponent = std::atoi(std::strchr(text, 'e') + 1);
    std::string kept = digits.substr(0, 15);
    if (digits[15] >= '5') {
        int k = 14;
        while (k >= 0 && kept[static_cast<size_t>(k)] == '9')
            kept[static_cast<size_t>(k--)] = '0';
        if (k < 0) {
            kept[0] = '1';
            ++exponent;
        } else {
            ++kept[static_cast<size_t>(k)];
        }
    }
    char out[40];
    std::snprintf(out, sizeof out, "%c%c.%sE%c%04d", x < 0 ? '-' : ' ', kept[0], kept.substr(1).c_str(),
                  exponent < 0 ? '-' : '+', std::abs(exponent));
    return out;
}

bool IsIntegerForm(std::string_view line)
{
    if (!line.empty() && line[0] == '-')
        line.remove_prefix(1);
    if (line.empty() || line.size() > 10 || (line[0] == '0' && line.size() > 1))
        return false;
    for (char ch : line)
        if (ch < '0' || ch > '9')
            return false;
    return true;
}

// 2. The input as the bits of a model, written and read back.
// Every field of `loaded` against `written`: integers exactly, reals to 15 significant digits,
// or to the last bit (NaN by class) where `exact` says so; an empty `exact` means 15 digits
// throughout.
void CompareFields(Loaded& written, Loaded& loaded, const std::vector<bool>& exact)
{
    std::vector<int32_t> ints;
    std::vector<double> reals;
    ForEachField(
        written, [&](int32_t& v) { ints.push_back(v); }, [&](uint8_t& v) { ints.push_back(v); },
        [&](double& v) { reals.push_back(v); });
    size_t i = 0;
    size_t r = 0;
    ForEachField(
        loaded,
        [&](int32_t& v) {
            if (v != ints[i])
                Fail("integer field %zu: written %d, loaded %d", i, ints[i], v);
            ++i;
        },
        [&](uint8_t& v) {
            if (v != ints[i])
                Fail("chip address: written %d, loaded %d", ints[i], v);
            ++i;
        },
        [&](double& v) {
            const bool allDigits = r < exact.size() && exact[r];
            const bool ok = allDigits ? (v == reals[r] || (std::isnan(v) && std::isnan(reals[r])))
                                      : Within15Digits(reals[r], v);
            if (!ok)
                Fail("real field %zu: written %.17g (\"%s\"), loaded %.17g (%s)", r, reals[r],
                     tavoxa::FormatReal(reals[r]).c_str(), v, allDigits ? "all digits" : "15 digits");
            ++r;
        });
}

void CheckSaveThenLoad(Choices& c)
{
    Loaded saved;
    ForEachField(
        saved, [&](int32_t& v) { v = PickInteger(c); }, [&](uint8_t& v) { v = c.Byte(); },
        [&](double& v) { v = PickReal(c); });
    const std::string file = tavoxa::WriteConfiguration(saved.model, saved.comNumber, saved.chipAddress);

    // The form: 314 lines ended by CR LF, integers in decimal, reals in their 23 characters.
    std::vector<std::string_view> lines;
    std::string_view rest(file);
    while (!rest.empty()) {
        const size_t crlf = rest.find("\r\n");
        if (crlf == std::string_view::npos)
            Fail("written file: a line without CR LF at its end");
        lines.push_back(rest.substr(0, crlf));
        rest.remove_prefix(crlf + 2);
    }
    if (lines.size() != static_cast<size_t>(tavoxa::kConfigLineCount))
        Fail("written file has %zu lines", lines.size());
    size_t line = 0;
    ForEachField(
        saved,
        [&](int32_t& v) {
            if (!IsIntegerForm(lines[line]) || lines[line] != std::to_string(v))
                Fail("line %zu: integer %d written as \"%.*s\"", line + 1, v,
                     static_cast<int>(lines[line].size()), lines[line].data());
            ++line;
        },
        [&](uint8_t& v) {
            if (lines[line] != std::to_string(v))
                Fail("line 2: chip address %u written as \"%.*s\"", v, static_cast<int>(lines[line].size()),
                     lines[line].data());
            ++line;
        },
        [&](double& v) {
            const std::string want = ReferenceRealForm(v);
            if (lines[line] != want)
                Fail("line %zu: real %.17g written as \"%.*s\", expected \"%s\"", line + 1, v,
                     static_cast<int>(lines[line].size()), lines[line].data(), want.c_str());
            ++line;
        });

    Loaded loaded;
    FillSentinel(loaded);
    const Outcome o = Read(file, loaded);
    if (o.threw)
        Fail("a written file fails to load: I/O error %d", o.code);
    CompareFields(saved, loaded, {});
}

void AppendBlanks(Choices& c, std::string& out)
{
    static const char* const kBlanks[] = {" ",    "\t",   "\r\n", "\n",        "\r",
                                          "\x01", "\x0c", "\x1f", "  \r\n\r\n"};
    const int n = c.Byte() % 4 == 0 ? c.Byte() % 3 + 1 : 0;
    for (int k = 0; k < n; ++k)
        out += kBlanks[c.Byte() % (sizeof kBlanks / sizeof kBlanks[0])];
}

// Whatever may follow a number on its line: a blank or control character, then any text
// without a line feed or Ctrl-Z; then the line end.
void AppendLineRest(Choices& c, std::string& out)
{
    if (c.Byte() % 4 == 0) {
        out += c.Byte() % 2 ? ' ' : '\t';
        const int n = c.Byte() % 12;
        for (int k = 0; k < n; ++k) {
            char ch = static_cast<char>(c.Byte());
            if (ch == '\n' || ch == '\x1a')
                ch = '#';
            out += ch;
        }
    }
    out += c.Byte() % 3 ? "\r\n" : "\n";
}

std::string RenderInteger(Choices& c, int32_t v)
{
    const uint32_t bits = static_cast<uint32_t>(v);
    char text[48];
    switch (c.Byte() % 8) {
        case 0:
            std::snprintf(text, sizeof text, "$%" PRIX32, bits);
            break;
        case 1:
            std::snprintf(text, sizeof text, "x%" PRIx32, bits);
            break;
        case 2:
            std::snprintf(text, sizeof text, "0X%08" PRIX32, bits);
            break;
        case 3:
            std::snprintf(text, sizeof text, v >= 0 ? "+%" PRId32 : "%" PRId32, v);
            break;
        case 4: {  // leading zeros, within the 32 characters of an integer field
            const int width = 11 + c.Byte() % 21;
            std::snprintf(text, sizeof text, "%0*" PRId32, width, v);
            break;
        }
        default:
            std::snprintf(text, sizeof text, "%" PRId32, v);
            break;
    }
    return text;
}

// The text of a real and whether it must read back exactly (all 17 digits given).
std::string RenderReal(Choices& c, double v, bool& exact)
{
    exact = false;
    std::string form = tavoxa::FormatReal(v);
    if (!std::isfinite(v))
        return form.substr(form.find_first_not_of(' '));
    char text[48];
    switch (c.Byte() % 4) {
        case 0:
            return form;  // its leading blank is skipped like any other
        case 1:
            exact = true;
            std::snprintf(text, sizeof text, "%.17g", v);
            return text;
        case 2:
            exact = true;
            std::snprintf(text, sizeof text, "%+.16e", v);
            return text;
        default:
            return form.substr(form.find_first_not_of(' '));
    }
}

// 3. A hand-made file of 314 values in varied forms, then the input itself as trailing text.
void CheckVariedForms(Choices& c, std::string_view input)
{
    Loaded expected;
    std::vector<bool> exact;
    std::string file;
    ForEachField(
        expected,
        [&](int32_t& v) {
            v = PickInteger(c);
            AppendBlanks(c, file);
            file += RenderInteger(c, v);
            AppendLineRest(c, file);
        },
        [&](uint8_t& v) {
            const int32_t raw = PickInteger(c);
            v = static_cast<uint8_t>(raw);
            AppendBlanks(c, file);
            file += RenderInteger(c, raw);
            AppendLineRest(c, file);
        },
        [&](double& v) {
            v = PickReal(c);
            bool isExact = false;
            AppendBlanks(c, file);
            file += RenderReal(c, v, isExact);
            exact.push_back(isExact);
            AppendLineRest(c, file);
        });
    const size_t valuesEnd = file.size();
    if (c.Byte() % 2) {  // trailing text on the last value's line itself
        file.pop_back();
        if (file.back() == '\r')
            file.pop_back();
        file += ' ';
    }
    file += input;

    Loaded loaded;
    FillSentinel(loaded);
    tavoxa::ConfigTarget target(loaded.model, loaded.comNumber, loaded.chipAddress);
    try {
        tavoxa::ReadConfiguration(file, target);
    } catch (const tavoxa::IoError& e) {
        Fail("314 valid values (%zu bytes) followed by %zu bytes of other text fail with I/O error %d",
             valuesEnd, input.size(), e.Code());
    }
    if (target.ValuesRead != tavoxa::kConfigLineCount)
        Fail("314 valid values count as %d values read", target.ValuesRead);

    CompareFields(expected, loaded, exact);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckArbitraryFile(bytes);
    Choices choices(data, size);
    CheckSaveThenLoad(choices);
    CheckVariedForms(choices, bytes);
    return 0;
}
