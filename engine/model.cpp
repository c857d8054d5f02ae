#include "engine/model.h"

namespace tavoxa {

// The names are marked for the window's translation (context "tavoxa::Model"): lupdate collects
// them, and without Qt the mark is the text itself.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(context, text) text
#endif

const std::array<const char*, 11> kModeNames = {
    QT_TRANSLATE_NOOP("tavoxa::Model", "Toggle"),         QT_TRANSLATE_NOOP("tavoxa::Model", "Timer"),
    QT_TRANSLATE_NOOP("tavoxa::Model", "IF  K1"),         QT_TRANSLATE_NOOP("tavoxa::Model", "IF  K2"),
    QT_TRANSLATE_NOOP("tavoxa::Model", "IF  K1 AND K2"),  QT_TRANSLATE_NOOP("tavoxa::Model", "IF  K1 OR K2"),
    QT_TRANSLATE_NOOP("tavoxa::Model", "IF  K1 NOR K2"),  QT_TRANSLATE_NOOP("tavoxa::Model", "IF  K1 XOR K2"),
    QT_TRANSLATE_NOOP("tavoxa::Model", "Sec. - Timer"),   QT_TRANSLATE_NOOP("tavoxa::Model", "Random"),
    QT_TRANSLATE_NOOP("tavoxa::Model", "Uhr - Steuerung")};

const std::array<const char*, 11> kDayCodeNames = {
    QT_TRANSLATE_NOOP("tavoxa::Model", "Date"),  QT_TRANSLATE_NOOP("tavoxa::Model", "So"),
    QT_TRANSLATE_NOOP("tavoxa::Model", "Mo"),    QT_TRANSLATE_NOOP("tavoxa::Model", "Di"),
    QT_TRANSLATE_NOOP("tavoxa::Model", "Mi"),    QT_TRANSLATE_NOOP("tavoxa::Model", "Do"),
    QT_TRANSLATE_NOOP("tavoxa::Model", "Fr"),    QT_TRANSLATE_NOOP("tavoxa::Model", "Sa"),
    QT_TRANSLATE_NOOP("tavoxa::Model", "Mo-Fr"), QT_TRANSLATE_NOOP("tavoxa::Model", "Sa-So"),
    QT_TRANSLATE_NOOP("tavoxa::Model", "Mo-So")};

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
