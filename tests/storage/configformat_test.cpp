// The configuration file's text: the real form, the 314-line layout and the tolerant reader.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "storage/configfile.h"
#include "storage/ioerror.h"
#include "storagetestutil.h"

namespace tavoxa {
namespace {

using testing::FilledSettings;
using testing::JoinLines;
using testing::RandomSettings;
using testing::SameStoredSettings;
using testing::SplitCrLf;

TEST(IoErrorTest, GermanMessagesByCode)
{
    EXPECT_EQ(IoError(2).Message(), "Datei nicht gefunden");
    EXPECT_EQ(IoError(3).Message(), "Ungültiger Dateiname");
    EXPECT_EQ(IoError(4).Message(), "Zu viele geöffnete Dateien");
    EXPECT_EQ(IoError(5).Message(), "Dateizugriff verweigert");
    EXPECT_EQ(IoError(100).Message(), "Versuch hinter dem Dateiende zu lesen");
    EXPECT_EQ(IoError(101).Message(), "Zu wenig Speicherplatz");
    EXPECT_EQ(IoError(106).Message(), "Ungültige numerische Eingabe");
    EXPECT_EQ(IoError(103).Message(), "E/A-Fehler 103");
    EXPECT_EQ(IoError(29).Message(), "E/A-Fehler 29");
    const IoError e(106);
    EXPECT_EQ(e.Code(), 106);
    EXPECT_STREQ(e.what(), "Ungültige numerische Eingabe");
}

// ---- the 23-character real form ----

struct RealCase {
    double value;
    const char* text;
};

class FormatRealTest : public ::testing::TestWithParam<RealCase> {};

TEST_P(FormatRealTest, GivesTheFixedForm)
{
    const std::string text = FormatReal(GetParam().value);
    EXPECT_EQ(text, GetParam().text);
    EXPECT_EQ(text.size(), 23u);
}

INSTANTIATE_TEST_SUITE_P(SignsFractionsAndZero, FormatRealTest,
                         ::testing::Values(RealCase{0.0, " 0.00000000000000E+0000"},
                                           RealCase{0.5, " 5.00000000000000E-0001"},
                                           RealCase{0.75, " 7.50000000000000E-0001"},
                                           RealCase{1.0 / 3.0, " 3.33333333333333E-0001"},
                                           RealCase{-1.5, "-1.50000000000000E+0000"},
                                           RealCase{2.0 / 3.0, " 6.66666666666667E-0001"},
                                           RealCase{-0.0, " 0.00000000000000E+0000"},
                                           RealCase{45678.25, " 4.56782500000000E+0004"},
                                           RealCase{-1e-5, "-1.00000000000000E-0005"},
                                           RealCase{1e308, " 1.00000000000000E+0308"},
                                           RealCase{5e-324, " 4.94065645841247E-0324"}));

INSTANTIATE_TEST_SUITE_P(Rounding, FormatRealTest,
                         ::testing::Values(
                             // a carry through all 15 digits raises the exponent
                             RealCase{9.999999999999999, " 1.00000000000000E+0001"},
                             RealCase{-9.999999999999999, "-1.00000000000000E+0001"},
                             RealCase{0.9999999999999999, " 1.00000000000000E+0000"},
                             // 18-digit expansion 8.15485144371421500: the 16th digit is 5, so the 15th goes
                             // up, although the exact binary value (...4214997...) lies below the half
                             RealCase{0.8154851443714215, " 8.15485144371422E-0001"},
                             RealCase{1.0000000000000004, " 1.00000000000000E+0000"}));

INSTANTIATE_TEST_SUITE_P(
    NonFinite, FormatRealTest,
    ::testing::Values(RealCase{std::numeric_limits<double>::quiet_NaN(), "                    Nan"},
                      RealCase{std::numeric_limits<double>::infinity(), "                   +Inf"},
                      RealCase{-std::numeric_limits<double>::infinity(), "                   -Inf"}));

// ---- the 314-line layout ----

TEST(WriteConfigurationTest, Has314CrLfLinesAndFixedWidthReals)
{
    const std::string text = WriteConfiguration(RandomSettings(1), 3, 56);
    const std::vector<std::string> lines = SplitCrLf(text);
    ASSERT_EQ(lines.size(), 314u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    for (size_t i = 0; i < lines.size(); ++i) {
        const int line = static_cast<int>(i) + 1;
        EXPECT_EQ(lines[i].find_first_of("\r\n"), std::string::npos) << "line " << line;
        const bool real = (line >= 111 && line <= 218) || line >= 279;
        if (real)
            EXPECT_EQ(lines[i].size(), 23u) << "line " << line;
        else
            EXPECT_EQ(lines[i].find_first_not_of("-0123456789"), std::string::npos) << "line " << line;
    }
    EXPECT_EQ(lines[0], "3");
    EXPECT_EQ(lines[1], "56");
}

TEST(WriteConfigurationTest, PutsEachFieldOnItsLine)
{
    Model m;
    m.RelayMode(2) = 9;
    m.SelectedProgram(5) = 4;
    for (int p = 0; p < 6; ++p)
        m.DayCode(0, p) = p + 1;
    m.ProgramDate(0, 0) = 45000.0;
    m.ProgramStart(0, 0) = 0.5;
    m.ProgramEnd(0, 0) = 0.75;
    m.SecondsTimer[0] = {1, -10, 20, 30};
    m.SelectedWindow(5) = 2;
    for (int w = 0; w < 3; ++w) {
        m.WindowMaxMinutes(0, w) = 100 + w;
        m.WindowStart(0, w) = 0.25;
        m.WindowEnd(0, w) = -2.5;
        m.MinutesToOn(0, w) = 555;  // not stored
        m.MinutesToOff(0, w) = 666;
    }
    const std::vector<std::string> lines = SplitCrLf(WriteConfiguration(m, INT32_MIN, 255));
    ASSERT_EQ(lines.size(), 314u);
    auto line = [&](int n) { return lines[static_cast<size_t>(n - 1)]; };
    EXPECT_EQ(line(1), "-2147483648");
    EXPECT_EQ(line(2), "255");
    EXPECT_EQ(line(15), "9");
    EXPECT_EQ(line(69), "4");
    for (int p = 0; p < 6; ++p)
        EXPECT_EQ(line(75 + p), std::to_string(p + 1));
    EXPECT_EQ(line(111), " 4.50000000000000E+0004");
    EXPECT_EQ(line(147), " 5.00000000000000E-0001");
    EXPECT_EQ(line(183), " 7.50000000000000E-0001");
    EXPECT_EQ(line(219), "1");
    EXPECT_EQ(line(220), "-10");
    EXPECT_EQ(line(221), "20");
    EXPECT_EQ(line(222), "30");
    EXPECT_EQ(line(243 + 15), "2");
    for (int w = 0; w < 3; ++w) {
        EXPECT_EQ(line(261 + w), std::to_string(100 + w));
        EXPECT_EQ(line(279 + w), " 2.50000000000000E-0001");
        EXPECT_EQ(line(297 + w), "-2.50000000000000E+0000");
    }
    const std::string all = WriteConfiguration(m, 0, 0);
    EXPECT_EQ(all.find("555"), std::string::npos);
    EXPECT_EQ(all.find("666"), std::string::npos);
}

// ---- reading ----

struct Loaded {
    Model settings;
    int32_t com = -99;
    uint8_t chip = 99;
    int valuesRead = -1;
};

// Reads `text` into `into`; returns the I/O code raised, 0 when none.
int Read(const std::string& text, Loaded& into)
{
    ConfigTarget target(into.settings, into.com, into.chip);
    try {
        ReadConfiguration(text, target);
    } catch (const IoError& e) {
        into.valuesRead = target.ValuesRead;
        return e.Code();
    }
    into.valuesRead = target.ValuesRead;
    return 0;
}

TEST(ReadConfigurationTest, RoundTripKeepsIntegersAndFifteenDigits)
{
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const Model original = RandomSettings(seed);
        Loaded loaded;
        ASSERT_EQ(Read(WriteConfiguration(original, -7, 0x38), loaded), 0);
        EXPECT_EQ(loaded.com, -7);
        EXPECT_EQ(loaded.chip, 0x38);
        EXPECT_EQ(std::memcmp(loaded.settings.SwitchTable, original.SwitchTable, sizeof original.SwitchTable),
                  0);
        EXPECT_EQ(
            std::memcmp(loaded.settings.SecondsTimer, original.SecondsTimer, sizeof original.SecondsTimer),
            0);
        EXPECT_EQ(std::memcmp(loaded.settings.WindowTable, original.WindowTable, sizeof original.WindowTable),
                  0);
        for (int plane = 0; plane < 3; ++plane)
            for (int r = 0; r < 6; ++r)
                for (int p = 0; p < 6; ++p) {
                    const double a = original.TimeTable[plane][r][p],
                                 b = loaded.settings.TimeTable[plane][r][p];
                    EXPECT_EQ(FormatReal(a), FormatReal(b));
                    EXPECT_LE(std::fabs(a - b), std::fabs(a) * 5e-15);
                }
        for (int plane = 0; plane < 2; ++plane)
            for (int r = 0; r < 6; ++r)
                for (int w = 0; w < 3; ++w)
                    EXPECT_EQ(FormatReal(original.WindowTimes[plane][r][w]),
                              FormatReal(loaded.settings.WindowTimes[plane][r][w]));
        // A second round gives the same text: the file is stable under load and save.
        EXPECT_EQ(WriteConfiguration(loaded.settings, -7, 0x38), WriteConfiguration(original, -7, 0x38));
    }
}

TEST(ReadConfigurationTest, IndentsBlankLinesAndTrailingTextLoadLikeTheCleanFile)
{
    const std::string clean = WriteConfiguration(RandomSettings(7), 2, 32);
    std::string messy;
    int n = 0;
    for (const std::string& line : SplitCrLf(clean)) {
        ++n;
        if (n % 3 == 0)
            messy += "\r\n   \t\r\n\n";  // blank lines, some with blanks and tabs
        messy += (n % 2 ? "  \t" : "") + line;
        messy += n % 4 == 0 ? "   ; comment 123 -4.5\n" : (n % 5 == 0 ? "\tx\r\n" : "\r\n");
    }
    Loaded a, b;
    ASSERT_EQ(Read(clean, a), 0);
    ASSERT_EQ(Read(messy, b), 0);
    EXPECT_TRUE(SameStoredSettings(a.settings, b.settings));
    EXPECT_EQ(b.com, 2);
    EXPECT_EQ(b.chip, 32);
}

TEST(ReadConfigurationTest, FileEndingAfterLine200LeavesZerosWithoutError)
{
    const Model original = FilledSettings(5, 0.25);
    std::vector<std::string> lines = SplitCrLf(WriteConfiguration(original, 4, 56));
    lines.resize(200);
    Loaded loaded;
    loaded.settings = FilledSettings(9, 9.0);
    loaded.settings.MinutesToOn(0, 0) = 9;
    ASSERT_EQ(Read(JoinLines(lines), loaded), 0);
    EXPECT_EQ(loaded.valuesRead, 200);
    const Model& m = loaded.settings;
    EXPECT_EQ(m.SwitchTable[2][5][5], 5);   // line 110
    EXPECT_EQ(m.TimeTable[2][2][5], 0.25);  // line 200
    EXPECT_EQ(m.TimeTable[2][3][0], 0.0);   // line 201
    EXPECT_EQ(m.SecondsTimer[0].Repeat, 0);
    EXPECT_EQ(m.SecondsTimer[5].SecondCount, 0);
    EXPECT_EQ(m.WindowTable[1][5][2], 0);
    EXPECT_EQ(m.WindowTimes[1][5][2], 0.0);
    EXPECT_EQ(m.MinutesToOn(0, 0), 9);  // not in the file
}

TEST(ReadConfigurationTest, EmptyFileGivesZerosAndNoValuesRead)
{
    Loaded loaded;
    loaded.settings = FilledSettings(9, 9.0);
    ASSERT_EQ(Read("", loaded), 0);
    EXPECT_EQ(loaded.valuesRead, 0);
    EXPECT_EQ(loaded.com, 0);
    EXPECT_EQ(loaded.chip, 0);
    EXPECT_TRUE(SameStoredSettings(loaded.settings, FilledSettings(0, 0.0)));
}

TEST(ReadConfigurationTest, CtrlZEndsTheFile)
{
    std::vector<std::string> lines = SplitCrLf(WriteConfiguration(FilledSettings(5, 0.5), 1, 32));
    lines[9] += "\x1a";  // right after the value on line 10
    Loaded loaded;
    ASSERT_EQ(Read(JoinLines(lines), loaded), 0);
    EXPECT_EQ(loaded.settings.SwitchTable[0][1][1], 5);  // line 10
    EXPECT_EQ(loaded.settings.SwitchTable[0][1][2], 0);  // line 11
    EXPECT_EQ(loaded.settings.TimeTable[0][0][0], 0.0);

    Loaded glued;
    ASSERT_EQ(Read("12\x1a"
                   "34\r\n5\r\n",
                   glued),
              0);
    EXPECT_EQ(glued.com, 12);
    EXPECT_EQ(glued.chip, 0);
}

// The caller applies COM number and chip from ValuesRead, so it must count exactly the values
// taken from the file, on the error path too.
TEST(ReadConfigurationTest, ValuesReadCountsTheConvertedValues)
{
    const std::string whole = WriteConfiguration(FilledSettings(1, 0.5), 1, 32);
    const struct {
        std::string text;
        int code, valuesRead;
    } cases[] = {
        {whole, 0, 314},
        {whole + "99\r\n", 0, 314},   // a value past the last line is not read
        {"5\r\n288\r\n3\r\n", 0, 3},  // 288 keeps its low 8 bits: 32
        {"3a\r\n32\r\n", 106, 0},
        {"2\r\n$138z\r\n", 106, 1},
        {"2\r\n32\r\n1\r\nx\r\n", 106, 3},
    };
    for (const auto& c : cases) {
        Loaded loaded;
        EXPECT_EQ(Read(c.text, loaded), c.code) << c.text.substr(0, 20);
        EXPECT_EQ(loaded.valuesRead, c.valuesRead) << c.text.substr(0, 20);
    }
    Loaded loaded;
    Read("5\r\n288\r\n", loaded);
    EXPECT_EQ(loaded.chip, 32);
}

struct IntegerCase {
    const char* text;
    int32_t value;  // the value after the load, also when it fails
    bool valid;
};

class IntegerFieldTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IntegerFieldTest, ConvertsLikeTextToIntAndMustFit)
{
    Loaded loaded;
    const std::string text = std::string("1\r\n32\r\n") + GetParam().text + "\r\n";
    EXPECT_EQ(Read(text, loaded), GetParam().valid ? 0 : 106);
    EXPECT_EQ(loaded.settings.RelayMode(0), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntegerFieldTest,
    ::testing::Values(IntegerCase{"$1A", 26, true}, IntegerCase{"x1f", 31, true},
                      IntegerCase{"X1F", 31, true}, IntegerCase{"0x10", 16, true},
                      IntegerCase{"0X10", 16, true}, IntegerCase{"+7", 7, true}, IntegerCase{"-0", 0, true},
                      IntegerCase{"007", 7, true}, IntegerCase{"2147483647", INT32_MAX, true},
                      IntegerCase{"-2147483648", INT32_MIN, true}, IntegerCase{"$FFFFFFFF", -1, true},
                      IntegerCase{"$0000000000000001", 1, true},
                      IntegerCase{"00000000000000000000000000000000"
                                  "7",
                                  0, true},  // run cut at 32
                      IntegerCase{"12ab", 12, false}, IntegerCase{"-12x", 12, false},
                      IntegerCase{"abc", 0, false}, IntegerCase{"2147483648", INT32_MIN, false},
                      IntegerCase{"-2147483649", INT32_MAX, false},
                      IntegerCase{"$100000000", 0x10000000, false}, IntegerCase{"1.5", 1, false},
                      IntegerCase{"-", 0, false}, IntegerCase{"$", 0, false}, IntegerCase{"0x", 0, false},
                      IntegerCase{"\xc3\xa4", 0, false}));

struct RealFieldCase {
    const char* text;
    double value;
    bool valid;
};

class RealFieldTest : public ::testing::TestWithParam<RealFieldCase> {};

TEST_P(RealFieldTest, FollowsTheNumberGrammar)
{
    std::vector<std::string> lines = SplitCrLf(WriteConfiguration(FilledSettings(0, 0.0), 1, 32));
    lines[110] = GetParam().text;  // line 111: ProgramDate of relay 1, program 1
    Loaded loaded;
    loaded.settings.ProgramDate(0, 0) = 42.0;
    EXPECT_EQ(Read(JoinLines(lines), loaded), GetParam().valid ? 0 : 106);
    const double v = loaded.settings.ProgramDate(0, 0);
    if (std::isnan(GetParam().value))
        EXPECT_TRUE(std::isnan(v));
    else
        EXPECT_EQ(v, GetParam().value);  // a failing field keeps its old value
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, RealFieldTest,
    ::testing::Values(RealFieldCase{"5", 5.0, true}, RealFieldCase{"-5.", -5.0, true},
                      RealFieldCase{".5", 0.5, true}, RealFieldCase{"+1.5e3", 1500.0, true},
                      RealFieldCase{"1E-2", 0.01, true}, RealFieldCase{"2.5E+0001", 25.0, true},
                      RealFieldCase{"-0.0", -0.0, true}, RealFieldCase{"0.1", 0.1, true},
                      RealFieldCase{"1E400", kInf, true}, RealFieldCase{"-1e99999", -kInf, true},
                      RealFieldCase{"1E-400", 0.0, true}, RealFieldCase{"Nan", std::nan(""), true},
                      RealFieldCase{"+Inf", kInf, true}, RealFieldCase{"-Inf", -kInf, true},
                      // 64 characters are taken; the 65th digit is beyond the run and ignored
                      RealFieldCase{"0.00000000000000000000000000000000000000000000000000000000000000"
                                    "5",
                                    0.0, true},
                      RealFieldCase{".", 42.0, false}, RealFieldCase{"1e", 42.0, false},
                      RealFieldCase{"1e+", 42.0, false}, RealFieldCase{"1.2.3", 42.0, false},
                      RealFieldCase{"--1", 42.0, false}, RealFieldCase{"1,5", 42.0, false},
                      RealFieldCase{"0x10", 42.0, false}, RealFieldCase{"E5", 42.0, false},
                      RealFieldCase{"nan", 42.0, false}, RealFieldCase{"12:00", 42.0, false}));

TEST(ReadConfigurationTest, LettersStopTheLoadWithEarlierValuesApplied)
{
    std::vector<std::string> lines = SplitCrLf(WriteConfiguration(FilledSettings(5, 0.5), 3, 32));
    lines[39] = "Timer";  // line 40: SwitchTable plane 1, relay 0, slot 1
    Loaded loaded;
    loaded.settings = FilledSettings(77, 7.0);
    ASSERT_EQ(Read(JoinLines(lines), loaded), 106);
    const Model& m = loaded.settings;
    EXPECT_EQ(loaded.com, 3);
    EXPECT_EQ(m.SwitchTable[1][0][0], 5);   // line 39, before the failure
    EXPECT_EQ(m.SwitchTable[1][0][1], 0);   // the failing field: TextToInt("Timer")
    EXPECT_EQ(m.SwitchTable[1][0][2], 77);  // after it: untouched
    EXPECT_EQ(m.TimeTable[0][0][0], 7.0);
    EXPECT_EQ(m.WindowTimes[1][5][2], 7.0);
}

TEST(ReadConfigurationTest, FailingFirstLinesStoreWhatTextToIntReads)
{
    Loaded loaded;
    EXPECT_EQ(Read("3a\r\n32\r\n", loaded), 106);
    EXPECT_EQ(loaded.com, 3);
    EXPECT_EQ(loaded.chip, 99);
    EXPECT_EQ(Read("2\r\n$138z\r\n", loaded), 106);
    EXPECT_EQ(loaded.chip, 0x38);  // the low 8 bits of TextToInt("$138z")
}

TEST(ReadConfigurationTest, NonFiniteValuesReadBack)
{
    Model m;
    m.ProgramStart(1, 2) = std::numeric_limits<double>::quiet_NaN();
    m.ProgramEnd(1, 2) = kInf;
    m.WindowEnd(5, 2) = -kInf;
    Loaded loaded;
    ASSERT_EQ(Read(WriteConfiguration(m, 1, 32), loaded), 0);
    EXPECT_TRUE(std::isnan(loaded.settings.ProgramStart(1, 2)));
    EXPECT_EQ(loaded.settings.ProgramEnd(1, 2), kInf);
    EXPECT_EQ(loaded.settings.WindowEnd(5, 2), -kInf);
}

// The largest doubles are written rounded up past the float64 range ("1.79769313486232E+0308"
// for DBL_MAX); reading that text back must give the value, not infinity. Found by fuzzing.
TEST(ReadConfigurationTest, LargestFiniteRealsReadBackFinite)
{
    constexpr double kMax = std::numeric_limits<double>::max();
    Model m;
    m.ProgramDate(0, 0) = kMax;
    m.ProgramStart(2, 3) = -kMax;
    m.WindowStart(1, 1) = std::nextafter(kMax, 0.0);  // its 15 digits are those of kMax too
    Loaded loaded;
    ASSERT_EQ(Read(WriteConfiguration(m, 1, 32), loaded), 0);
    EXPECT_EQ(loaded.settings.ProgramDate(0, 0), kMax);
    EXPECT_EQ(loaded.settings.ProgramStart(2, 3), -kMax);
    EXPECT_EQ(loaded.settings.WindowStart(1, 1), kMax);

    // Past that form a text still overflows to infinity.
    std::vector<std::string> lines = SplitCrLf(WriteConfiguration(m, 1, 32));
    lines[110] = " 1.79769313486233E+0308";
    lines[111] = "-1.79769313486233E+0308";
    ASSERT_EQ(Read(JoinLines(lines), loaded), 0);
    EXPECT_EQ(loaded.settings.TimeTable[0][0][0], kInf);
    EXPECT_EQ(loaded.settings.TimeTable[0][0][1], -kInf);
}

TEST(EffectiveConfigNameTest, DefaultsOnlyAnEmptyName)
{
    EXPECT_EQ(EffectiveConfigName(""), "tavoxa.dat");
    EXPECT_EQ(EffectiveConfigName("relays.dat"), "relays.dat");
    EXPECT_EQ(EffectiveConfigName(" "), " ");
    EXPECT_EQ(BackupName("/x/relays.dat"), "/x/relays.dat.bak");
}

}  // namespace
}  // namespace tavoxa
