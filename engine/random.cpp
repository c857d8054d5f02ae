#include "engine/random.h"

namespace tavoxa {

int32_t LcgRandom::Next(int32_t n)
{
    state_ = state_ * 134775813u + 1u;
    if (n <= 0)
        return 0;
    return static_cast<int32_t>((static_cast<uint64_t>(state_) * static_cast<uint32_t>(n)) >> 32);
}

}  // namespace tavoxa
