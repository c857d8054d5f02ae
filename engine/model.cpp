#include "engine/model.h"

namespace tavoxa {

const std::array<const char*, 11> kModeNames = {
    "Toggle",        "Timer",         "IF  K1",       "IF  K2", "IF  K1 AND K2",  "IF  K1 OR K2",
    "IF  K1 NOR K2", "IF  K1 XOR K2", "Sec. - Timer", "Random", "Uhr - Steuerung"};

const std::array<const char*, 11> kDayCodeNames = {"Date", "So", "Mo",    "Di",    "Mi",   "Do",
                                                   "Fr",   "Sa", "Mo-Fr", "Sa-So", "Mo-So"};

const std::array<const char*, 10> DayNames = {"So", "Mo", "Di",    "Mi",    "Do",
                                              "Fr", "Sa", "Mo-Fr", "Sa-So", "Mo-So"};

void SetRelay(Model& m, int n)
{
    m.RelayBits = static_cast<uint8_t>(m.RelayBits | (1u << n));
}

void ClearRelay(Model& m, int n)
{
    m.RelayBits = static_cast<uint8_t>(m.RelayBits & ~(1u << n));
}

void ToggleRelay(Model& m, int n)
{
    if (RelayIsOn(m, n))
        ClearRelay(m, n);
    else
        SetRelay(m, n);
}

bool RelayIsOn(const Model& m, int n)
{
    return (m.RelayBits >> n) & 1u;
}

void ForgetCounts(Model& m)
{
    for (int r = 0; r < kRelayCount; ++r) {
        m.SecondsTimer[r].SecondCount = -1;
        for (int w = 0; w < kWindowCount; ++w)
            m.MinutesToOff(r, w) = 0;
    }
}

void ResetSwitching(Model& m)
{
    m.RelayBits = 0;
    ForgetCounts(m);
}

void StartSeconds(Model& m)
{
    for (auto& timer : m.SecondsTimer)
        timer.SecondCount = 0;
}

bool ToggleButtonEnabled(int position)
{
    return position == ModeToggle || position == ModeTimer || position == ModeK1XorK2;
}

}  // namespace tavoxa
