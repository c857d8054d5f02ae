#include "adapter/seriallines.h"

#include <cerrno>

namespace tavoxa {

bool DeviceFailed(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV;
}

}  // namespace tavoxa
