// What the status lines show of the port and the adapter, as the core reports it.
#pragma once

#include <QMetaType>
#include <cstdint>

namespace tavoxa {

struct BusFacts {
    bool PortOpen = false;  // the one truth of "port open": the bus thread's last report, cleared by STOP
    int32_t ComNumber = 1;
    bool Connected = false;  // the chip acknowledged the last transaction on an open port
    bool operator==(const BusFacts& o) const
    {
        return PortOpen == o.PortOpen && ComNumber == o.ComNumber && Connected == o.Connected;
    }
    bool operator!=(const BusFacts& o) const { return !(*this == o); }
};

}  // namespace tavoxa

Q_DECLARE_METATYPE(tavoxa::BusFacts)
