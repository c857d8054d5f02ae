#include "adapter/comname.h"

#include <cctype>

namespace tavoxa {

int ComNumberFromSettings(const std::string& settings)
{
    const std::string name = settings.substr(0, settings.find(':'));
    if (name.size() != 4) {
        return 0;
    }
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) {
            return 0;
        }
    }
    const char digit = name[3];
    return digit >= '1' && digit <= '8' ? digit - '0' : 0;
}

std::string BuildPortSettings(const std::string& prefix, int32_t comNumber)
{
    return prefix + std::to_string(comNumber) + ":4800,N,8,1";
}

}  // namespace tavoxa
