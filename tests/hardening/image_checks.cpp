#include "hardening/image_checks.h"

#include <cstring>

namespace hardening {
namespace {

std::uint16_t u16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t u32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return u16(b, at) | static_cast<std::uint32_t>(u16(b, at + 2)) << 16;
}

bool validDate(std::uint16_t date) {
    const int day = date & 31;
    const int month = (date >> 5) & 15;
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month >= 1 && month <= 12 && day >= 1 && day <= kDays[month - 1];
}

bool validTime(std::uint16_t time) {
    return (time >> 11) < 24 && ((time >> 5) & 63) < 60 && (time & 31) < 30;
}

// Letters in capitals, digits, the punctuation DOS allows and the code page's upper half.
bool shortNameChar(std::uint8_t c) {
    if (c >= 0x80) return true;
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return c != 0 && std::strchr("!#$%&'()-@^_`{}~", c) != nullptr;
}

std::string nameOf(const std::uint8_t* entry) {
    return std::string(reinterpret_cast<const char*>(entry), 11);
}

}  // namespace

std::vector<std::string> checkImageStructure(const std::vector<std::uint8_t>& image) {
    std::vector<std::string> faults;
    if (image.size() < 512) return {"the image is shorter than one sector"};
    if (image[510] != 0x55 || image[511] != 0xAA) faults.push_back("no 0x55AA signature");
    const std::uint16_t bytesPerSector = u16(image, 11);
    const std::uint16_t reserved = u16(image, 14);
    const std::uint8_t fatCount = image[16];
    const std::uint16_t rootEntries = u16(image, 17);
    const std::uint8_t media = image[21];
    const std::uint16_t perFat = u16(image, 22);
    if (bytesPerSector != 512 || reserved == 0 || fatCount == 0 || perFat == 0 ||
        rootEntries == 0) {
        faults.push_back("the boot sector describes no FAT12 layout");
        return faults;
    }
    const std::size_t rootStart = (reserved + std::size_t{fatCount} * perFat) * 512;
    const std::size_t rootEnd = rootStart + std::size_t{rootEntries} * 32;
    if (rootEnd > image.size()) {
        faults.push_back("the FATs and root directory run past the image");
        return faults;
    }
    for (unsigned copy = 0; copy < fatCount; ++copy) {
        const std::size_t fat = (reserved + std::size_t{copy} * perFat) * 512;
        const std::uint16_t first = static_cast<std::uint16_t>(u16(image, fat) & 0x0FFF);
        const std::uint16_t second = static_cast<std::uint16_t>(u16(image, fat + 1) >> 4);
        if (first != (0xF00 | media)) {
            faults.push_back("FAT " + std::to_string(copy + 1) + " begins with " +
                             std::to_string(first) + ", not the media byte " +
                             std::to_string(media));
        }
        if (second < 0xFF8)
            faults.push_back("FAT " + std::to_string(copy + 1) + "[1] is no end mark");
    }

    bool ended = false;
    for (std::size_t at = rootStart; at < rootEnd; at += 32) {
        const std::uint8_t* entry = &image[at];
        const std::size_t index = (at - rootStart) / 32;
        const std::string where = "root entry " + std::to_string(index);
        if (entry[0] == 0x00) {
            ended = true;
            continue;
        }
        if (ended) {
            faults.push_back(where + " (" + nameOf(entry) + ") follows the end mark");
            continue;
        }
        if (entry[0] == 0xE5) continue;
        const std::uint8_t attributes = entry[11];
        if ((attributes & 0x0F) == 0x0F) {
            faults.push_back(where + " is a long-name piece");
            continue;
        }
        const bool label = (attributes & 0x08) != 0;
        for (int i = 0; i < 11; ++i) {
            const std::uint8_t c = (i == 0 && entry[0] == 0x05) ? 0xE5 : entry[i];
            if (c == ' ' && (i != 0 || label)) continue;
            if (!shortNameChar(c) && !(label && c == ' ')) {
                faults.push_back(where + " (" + nameOf(entry) + ") is no capital 8.3 name");
                break;
            }
        }
        if (!label) {
            // Blanks only pad: none inside the name or the extension.
            const std::string name = nameOf(entry);
            const auto inner = [](const std::string& part) {
                const std::size_t end = part.find_last_not_of(' ');
                return end != std::string::npos && part.find(' ') < end;
            };
            if (inner(name.substr(0, 8)) || inner(name.substr(8))) {
                faults.push_back(where + " (" + name + ") holds a blank inside");
            }
        }
        if (u16(image, at + 20) != 0) faults.push_back(where + " has a high cluster word");
        if (!validDate(u16(image, at + 24)) || !validTime(u16(image, at + 22))) {
            faults.push_back(where + " (" + nameOf(entry) + ") has no valid write date and time");
        }
        const std::uint16_t created = u16(image, at + 16);
        const std::uint16_t accessed = u16(image, at + 18);
        if ((created != 0 && !validDate(created)) || (accessed != 0 && !validDate(accessed)) ||
            !validTime(u16(image, at + 14)) || entry[13] > 199) {
            faults.push_back(where + " (" + nameOf(entry) +
                             ") has an invalid creation or access stamp");
        }
        if (!label && (attributes & 0x10) == 0 && u32(image, at + 28) != 0 &&
            u16(image, at + 26) < 2) {
            faults.push_back(where + " (" + nameOf(entry) + ") holds bytes but no first cluster");
        }
    }
    return faults;
}

std::string joinFaults(const std::vector<std::string>& faults) {
    std::string text;
    for (const std::string& fault : faults) text += fault + "\n";
    return text;
}

}  // namespace hardening
