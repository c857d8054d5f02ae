// Bus events as the simulated chip's monitor logs them, for comparing whole transactions.
#pragma once

#include <cstdint>

#include "adapter/pcf8574.h"

namespace tavoxa {

inline BusEvent StartEv()
{
    return {BusEvent::Start, 0, false};
}
inline BusEvent StopEv()
{
    return {BusEvent::Stop, 0, false};
}
inline BusEvent ByteEv(uint8_t v, bool acked)
{
    return {BusEvent::Byte, v, acked};
}

}  // namespace tavoxa
