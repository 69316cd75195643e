#include "platform/system_version.h"

#include <cstdlib>
#include <string_view>

namespace platform {

std::optional<SystemVersion> versionChosenForTests() {
    const char* value = std::getenv("QUENVOL_PLATFORM_ID");
    if (value == nullptr) return std::nullopt;
    const std::string_view text(value);
    if (text != "0" && text != "1" && text != "2") return std::nullopt;
    SystemVersion version;
    version.platformId = static_cast<std::uint32_t>(text[0] - '0');
    if (version.platformId == kPlatformWindows) {
        version.major = 4;
        version.minor = 10;
        version.build = 2222;
    } else if (version.platformId == kPlatformWin32s) {
        version.major = 3;
        version.minor = 10;
        version.build = 0;
    }
    return version;
}

}  // namespace platform
