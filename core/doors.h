// The values front ends hand to the core's doors.
#pragma once

namespace tavoxa {

enum class RelayAction { On, Off, Toggle };
struct RelayCommand {
    int relay = 0;  // 0..5
    RelayAction action = RelayAction::Toggle;
};

}  // namespace tavoxa
