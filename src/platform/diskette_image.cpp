#include "platform/diskette_image.h"

#include "platform/drive_format.h"
#include "platform/floppy_drives.h"

namespace platform {

std::string nameDrive(const std::string& path, const std::string& description,
                      std::uint64_t bytes) {
    std::string text = driveName(path);
    if (!description.empty()) text += ", " + description;
    return text + ", " + groupThousands(bytes) + " bytes";
}

}  // namespace platform
