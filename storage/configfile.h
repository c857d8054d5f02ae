// The configuration file: every persistent switching setting, the COM port number and the
// chip address, one number per line in a fixed order of 314 lines.
//
// WriteConfiguration and ReadConfiguration are pure functions over bytes; the two file
// functions at the end add the disk access, the atomic replace and the ".bak" copy of a file
// that failed to load.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "engine/model.h"

namespace tavoxa {

constexpr int kConfigLineCount = 314;
constexpr int kRealFieldWidth = 23;

// Name used while no configuration file name is known (no settings file, or an empty first
// line in it), so that the first close writes a file that the next start loads again.
inline constexpr char kDefaultConfigName[] = "tavoxa.dat";

// Where a load stores what it reads. Values are stored one by one as they are read, so after
// an error the fields before the failing one hold the file's values. The reader calls nothing
// back: the caller applies the COM number and the chip address from ValuesRead afterwards, on
// the error path too.
struct ConfigTarget {
    ConfigTarget(StoredSettings& settings, int32_t& comNumber, uint8_t& chipAddress)
        : Settings(settings), ComNumber(comNumber), ChipAddress(chipAddress)
    {
    }

    StoredSettings& Settings;
    int32_t& ComNumber;
    uint8_t& ChipAddress;
    // How many values, in file order, were taken from the file and converted: 314 for a whole
    // file, fewer for a file that ends early (the rest are stored as 0) or for a load that threw
    // (the value that failed to convert is not counted). ComNumber came from the file when it is
    // 1 or more, ChipAddress when it is 2 or more.
    int ValuesRead = 0;
};

// What the storage layer remembers between loads and saves.
struct StorageState {
    // Absolute names of configuration files that failed to load (invalid number, read error,
    // or ending before the last value) and whose contents have not yet been kept as "<name>.bak".
    std::set<std::string> PendingBackups;
};

// A float64 in the file's 23-character form: sign blank or "-", one digit, ".", 14 digits,
// "E", exponent sign and four exponent digits. The mantissa keeps 15 significant digits of the
// 18-digit expansion, rounded up when the 16th is 5 or more. "Nan", "+Inf" and "-Inf" are
// right-aligned to 23 characters. The separator is "." in every locale.
std::string FormatReal(double value);

// The whole file: 314 lines, each ended by CR LF.
std::string WriteConfiguration(const StoredSettings& settings, int32_t comNumber, uint8_t chipAddress);

// Reads the 314 values in file order into `target`, counting them in target.ValuesRead. Tolerant: codes 32
// and below are skipped across lines before each value, whatever follows a value on its line is ignored,
// Ctrl-Z ends the file, and values missing at the end of the file become 0. Integers are read as TextToInt
// reads them (decimal, or hexadecimal after "$", "x", "X", "0x", "0X"; a hexadecimal value is
// taken as the 32-bit pattern, so "$FFFFFFFF" is -1), reals as sign, digits with at most one
// ".", optional exponent, plus the forms "Nan", "+Inf", "-Inf" that FormatReal writes.
// Throws IoError 106 at the first value that does not convert: an integer field then holds
// TextToInt of its text, a real field keeps its old value, later fields keep theirs.
void ReadConfiguration(std::string_view bytes, ConfigTarget& target);

// The name a configuration file is read from and written to: kDefaultConfigName when
// `configFileName` is empty, otherwise the name itself. The caller sets ConfigFileName to this
// after the settings file has been read.
std::string EffectiveConfigName(const std::string& configFileName);

// "<path>.bak": where the contents of a file that failed to load are kept.
std::string BackupName(const std::string& path);

// Loads the file `path` into `target`. Returns false, changing nothing, when the file cannot
// be opened (missing, no access, empty name, not a regular file): the caller then applies the
// defaults (ApplyDefaults). Throws IoError 106 for an invalid value and IoError with the
// platform code for a failing read. A file that ends before its last value loads (the rest 0)
// with target.ValuesRead below kConfigLineCount; the caller reports it with ShortFileMessage.
// Each of these is recorded in `state`, so that the file's contents are kept before the next
// save replaces them.
bool LoadConfigurationFile(const std::string& path, ConfigTarget& target, StorageState& state);

// "ends after 12 of 314 values": what a load that stopped early is reported with, after the
// file's name.
std::string ShortFileMessage(int valuesRead);

// Replaces the file `path` by the settings, atomically (see WriteFileAtomically: IoError 103
// when the file cannot be created or is write-protected; the old file then stays unchanged).
// When `state` records that this file failed to load, its contents are first copied to
// BackupName(path); that happens once, before the first overwrite.
void SaveConfigurationFile(const std::string& path, const StoredSettings& settings, int32_t comNumber,
                           uint8_t chipAddress, StorageState& state);

}  // namespace tavoxa
