#include "platform/floppy_drives.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

#include "platform/drive_a.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// A sysfs attribute is one short line; anything longer is not what we are looking for.
constexpr std::size_t kAttributeLimit = 4096;
constexpr std::uint64_t kSysfsSectorBytes = 512;  // sysfs counts sizes in 512-byte units
// USB mass storage (class 08) speaking the floppy command set (subclass 04).
constexpr unsigned long kMassStorageClass = 0x08;
constexpr unsigned long kFloppySubclass = 0x04;

// The attribute's text with surrounding blanks taken away (SCSI pads vendor and model) and
// control characters turned into blanks, so that a name cannot break a line or a field.
std::optional<std::string> readAttribute(const fs::path& file) {
    // Only files: a pipe put in a made-up tree would hold the program forever.
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(kAttributeLimit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) return std::nullopt;
    text.resize(static_cast<std::size_t>(in.gcount()));
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::optional<std::uint64_t> parseNumber(const std::optional<std::string>& text, int base) {
    if (!text || text->empty() || (*text)[0] == '-') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text->c_str(), &end, base);
    if (errno != 0 || *end != '\0') return std::nullopt;
    return value;
}

bool isControllerDrive(const std::string& name) {
    return name.size() > 2 && name.starts_with("fd") &&
           std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The nearest USB interface above the device says what kind of drive it is.
bool isUsbFloppyInterface(const fs::path& device, const fs::path& sysfs) {
    std::error_code ec;
    fs::path dir = fs::canonical(device, ec);
    if (ec) return false;
    const fs::path top = fs::canonical(sysfs, ec);
    if (ec) return false;
    for (; dir != top && dir != dir.parent_path(); dir = dir.parent_path()) {
        const auto interfaceClass = parseNumber(readAttribute(dir / "bInterfaceClass"), 16);
        if (!interfaceClass) continue;
        return *interfaceClass == kMassStorageClass &&
               parseNumber(readAttribute(dir / "bInterfaceSubClass"), 16) == kFloppySubclass;
    }
    return false;
}

// A USB device's folder is named by its port path ("2-1.3") and its interfaces' by that and
// the configuration and interface numbers ("2-1.3:1.0"); the root hubs are "usb2".
std::string portPathOf(const std::string& folder) {
    const auto dash = folder.find('-');
    if (dash == 0 || dash == std::string::npos) return {};
    const std::string port = folder.substr(0, folder.find(':'));
    const bool wellFormed =
        std::all_of(port.begin(), port.end(),
                    [](char c) { return (c >= '0' && c <= '9') || c == '-' || c == '.'; }) &&
        port.back() != '.' && port.back() != '-' && port.find('-', dash + 1) == std::string::npos;
    return wellFormed ? port : std::string();
}

// The port of the nearest USB device above the block device; empty when there is none.
std::string usbPortOf(const fs::path& device, const fs::path& sysfs) {
    std::error_code ec;
    fs::path dir = fs::canonical(device, ec);
    if (ec) return {};
    const fs::path top = fs::canonical(sysfs, ec);
    if (ec) return {};
    for (; dir != top && dir != dir.parent_path(); dir = dir.parent_path()) {
        if (std::string port = portPathOf(dir.filename().string()); !port.empty()) return port;
    }
    return {};
}

std::optional<std::uint64_t> mediumBytes(const fs::path& block) {
    const auto sectors = parseNumber(readAttribute(block / "size"), 10);
    if (!sectors || *sectors > std::numeric_limits<std::uint64_t>::max() / kSysfsSectorBytes) {
        return std::nullopt;
    }
    return *sectors * kSysfsSectorBytes;
}

// The drive behind one entry of <sysfs>/block, or none when it is no floppy drive.
std::optional<FloppyDrive> examine(const fs::path& sysfs, const std::string& name,
                                   const std::string& devRoot) {
    const fs::path block = sysfs / "block" / name;
    FloppyDrive drive;
    drive.name = name;
    if (isControllerDrive(name)) {
        drive.mediumBytes = std::nullopt;
    } else {
        // Optical drives are removable and may report any size; virtual devices (loop, ram,
        // device-mapper, md) have no hardware behind them and are used only when named.
        std::error_code ec;
        if (name.starts_with("sr") || !fs::exists(block / "device", ec)) return std::nullopt;
        if (readAttribute(block / "removable") != "1") return std::nullopt;
        drive.mediumBytes = mediumBytes(block);
        const bool disketteSized = drive.mediumBytes && isDisketteSize(*drive.mediumBytes);
        if (!disketteSized && !isUsbFloppyInterface(block / "device", sysfs)) return std::nullopt;
    }
    drive.path = devRoot + "/" + name;
    drive.vendor = readAttribute(block / "device" / "vendor").value_or("");
    drive.model = readAttribute(block / "device" / "model").value_or("");
    if (!isControllerDrive(name)) drive.usbPort = usbPortOf(block / "device", sysfs);
    drive.readOnly = readAttribute(block / "ro") == "1";
    drive.mayWrite = ::access(drive.path.c_str(), W_OK) == 0;
    return drive;
}

// The kernel numbers sda to sdz before sdaa: within one family, shorter names come first.
bool kernelOrder(const FloppyDrive& a, const FloppyDrive& b) {
    const auto family = [](const std::string& name) { return name.substr(0, 2); };
    if (family(a.name) != family(b.name)) return a.name < b.name;
    if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
    return a.name < b.name;
}

bool sameNode(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && S_ISBLK(sa.st_mode) &&
           S_ISBLK(sb.st_mode) && sa.st_rdev == sb.st_rdev;
}

}  // namespace

std::string FloppyDrive::description() const {
    std::string text = vendor;
    if (!text.empty() && !model.empty()) text += ' ';
    text += model;
    if (text.empty()) text = isControllerDrive(name) ? "floppy controller drive" : "unnamed drive";
    if (!usbPort.empty()) text += ", USB port " + usbPort;
    return text;
}

std::string sysfsRoot() {
    const char* root = std::getenv("QUENVOL_SYSFS");
    return root != nullptr && *root != '\0' ? root : "/sys";
}

std::vector<FloppyDrive> findFloppyDrives(const std::string& sysfs, const std::string& devRoot) {
    std::vector<FloppyDrive> drives;
    std::error_code ec;
    fs::directory_iterator it(fs::path(sysfs) / "block", ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (auto drive = examine(sysfs, it->path().filename().string(), devRoot)) {
            drives.push_back(std::move(*drive));
        }
    }
    std::sort(drives.begin(), drives.end(), kernelOrder);
    return drives;
}

std::vector<FloppyDrive> findFloppyDrives() {
    return findFloppyDrives(sysfsRoot(), "/dev");
}

std::optional<FloppyDrive> floppyDriveAt(const std::vector<FloppyDrive>& drives,
                                         const std::string& path) {
    for (const auto& drive : drives) {
        if (drive.path == path) return drive;
    }
    for (const auto& drive : drives) {
        if (sameNode(drive.path, path)) return drive;
    }
    return std::nullopt;
}

std::optional<char> driveLetterOf(const std::string&) {
    return std::nullopt;
}

std::string defaultDriveAPath() {
    return "/dev/fd0";
}

}  // namespace platform
