// The order of the configuration file's 314 values, declared once.
//
// The writer, the reader and every check that compares files or settings walk the values
// through VisitConfigFields, so a field can never be written in one order and read in another.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <type_traits>

#include "engine/model.h"

namespace tavoxa {

// Where a stored value sits: its line in the file (0 = COM number, 1 = chip address, then the
// settings) and the table and indices it has in StoredSettings. Indices a table does not have
// are -1; for SecondsTimer, Relay is the record and Slot the member (Repeat, StartAfter,
// EndAfter, SecondCount).
struct ConfigField {
    int Line = 0;
    const char* Table = "";
    int Plane = -1;
    int Relay = -1;
    int Slot = -1;
};

// "WindowTable[1][4][2]", "SecondsTimer[3].EndAfter", "ComNumber": for messages and diffs.
inline std::string ConfigFieldName(const ConfigField& f)
{
    static const char* const kTimerMembers[] = {"Repeat", "StartAfter", "EndAfter", "SecondCount"};
    std::string name = f.Table;
    if (name == "SecondsTimer")
        return name + "[" + std::to_string(f.Relay) + "]." + kTimerMembers[f.Slot];
    for (int index : {f.Plane, f.Relay, f.Slot})
        if (index >= 0)
            name += "[" + std::to_string(index) + "]";
    return name;
}

// Calls visit(value, field) for the 312 stored settings in file order, with int32_t& or double&
// (const references when `settings` is const). The first line is 2: lines 0 and 1 are the COM
// number and the chip address.
template <class Settings, class Visitor>
void VisitStoredFields(Settings& settings, Visitor&& visit)
{
    static_assert(std::is_base_of_v<StoredSettings, std::remove_const_t<Settings>>);
    ConfigField f;
    f.Line = 2;
    auto table = [&](const char* name, auto& planes) {
        f.Table = name;
        for (f.Plane = 0; f.Plane < static_cast<int>(std::size(planes)); ++f.Plane)
            for (f.Relay = 0; f.Relay < static_cast<int>(std::size(planes[f.Plane])); ++f.Relay)
                for (f.Slot = 0; f.Slot < static_cast<int>(std::size(planes[f.Plane][f.Relay])); ++f.Slot) {
                    visit(planes[f.Plane][f.Relay][f.Slot], static_cast<const ConfigField&>(f));
                    ++f.Line;
                }
    };
    table("SwitchTable", settings.SwitchTable);
    table("TimeTable", settings.TimeTable);
    f.Table = "SecondsTimer";
    f.Plane = -1;
    for (f.Relay = 0; f.Relay < kRelayCount; ++f.Relay) {
        auto& timer = settings.SecondsTimer[f.Relay];
        for (auto* member : {&timer.Repeat, &timer.StartAfter, &timer.EndAfter, &timer.SecondCount}) {
            f.Slot = static_cast<int>(member - &timer.Repeat);
            visit(*member, static_cast<const ConfigField&>(f));
            ++f.Line;
        }
    }
    table("WindowTable", settings.WindowTable);
    table("WindowTimes", settings.WindowTimes);
}

// Calls visit(value, field) for all 314 values of the file in file order: the COM number, the
// chip address, then VisitStoredFields. The chip address is handed to the visitor as an int32_t
// (the number on its line); a value the visitor stores there is kept in its low 8 bits, also
// when the visitor leaves by an exception.
template <class Settings, class ComNumber, class ChipAddress, class Visitor>
void VisitConfigFields(Settings& settings, ComNumber& comNumber, ChipAddress& chipAddress, Visitor&& visit)
{
    static_assert(std::is_same_v<std::remove_const_t<ComNumber>, int32_t>);
    static_assert(std::is_same_v<std::remove_const_t<ChipAddress>, uint8_t>);
    ConfigField f;
    f.Table = "ComNumber";
    visit(comNumber, static_cast<const ConfigField&>(f));
    f.Line = 1;
    f.Table = "ChipAddress";
    if constexpr (std::is_const_v<ChipAddress>) {
        const int32_t chip = chipAddress;
        visit(chip, static_cast<const ConfigField&>(f));
    } else {
        struct KeepLowByte {
            int32_t value;
            uint8_t& into;
            ~KeepLowByte() { into = static_cast<uint8_t>(value); }
        } chip{chipAddress, chipAddress};
        visit(chip.value, static_cast<const ConfigField&>(f));
    }
    VisitStoredFields(settings, visit);
}

}  // namespace tavoxa
