// A sysfs tree made up in a folder, laid out as the kernel lays out /sys: block/<name> links
// to the disk's folder under devices/, whose "device" link points back at the hardware.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fakesysfs {

namespace fs = std::filesystem;

struct Disk {
    std::string name;
    std::string hardware;   // folder under devices/; empty: a virtual device (loop, ram)
    std::string sectors;    // the size attribute, in 512-byte units
    std::string removable;  // "1" or "0"
    std::string ro = "0";
    std::string vendor;
    std::string model;
    std::string usbInterface;  // folder under devices/ holding the interface's class and subclass
    std::string interfaceClass;
    std::string interfaceSubClass;
};

inline void writeAttribute(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text << '\n';
}

inline void addDisk(const fs::path& root, const Disk& disk) {
    const std::string owner = disk.hardware.empty() ? "virtual" : disk.hardware;
    const fs::path folder = root / "devices" / owner / "block" / disk.name;
    fs::create_directories(folder);
    fs::create_directories(root / "block");
    fs::create_directory_symlink(fs::path("..") / "devices" / owner / "block" / disk.name,
                                 root / "block" / disk.name);
    writeAttribute(folder / "size", disk.sectors);
    writeAttribute(folder / "removable", disk.removable);
    writeAttribute(folder / "ro", disk.ro);
    if (disk.hardware.empty()) return;
    fs::create_directory_symlink("../..", folder / "device");
    if (!disk.vendor.empty()) writeAttribute(root / "devices" / owner / "vendor", disk.vendor);
    if (!disk.model.empty()) writeAttribute(root / "devices" / owner / "model", disk.model);
    if (!disk.usbInterface.empty()) {
        const fs::path usb = root / "devices" / disk.usbInterface;
        writeAttribute(usb / "bInterfaceClass", disk.interfaceClass);
        writeAttribute(usb / "bInterfaceSubClass", disk.interfaceSubClass);
    }
}

// The machine of the drive tests: a floppy controller drive, a USB floppy drive with a
// write-protected diskette in and one without, a removable drive of another kind holding a
// 720 KB diskette, and what must never be taken for a floppy drive (a fixed disk, a 16 GB USB
// stick, a CD drive and a loop device, the last two with a medium of a diskette's size).
inline void addMachine(const fs::path& root) {
    const std::string usb = "pci0000:00/0000:00:14.0/usb1/";
    const std::vector<Disk> disks = {
        {"fd0", "platform/floppy.0", "2880", "1", "0", "", "", "", "", ""},
        {"sda", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", "1000215216", "0", "0",
         "ATA", "Samsung SSD 870", "", "", ""},
        {"sdb", usb + "1-1/1-1:1.0/host6/target6:0:0/6:0:0:0", "2880", "1", "1", "TEAC    ",
         "FD-05PUB        ", usb + "1-1/1-1:1.0", "08", "04"},
        {"sdc", usb + "1-2/1-2:1.0/host7/target7:0:0/7:0:0:0", "0", "1", "0", "Y-E DATA",
         "USB\tFDU\n", usb + "1-2/1-2:1.0", "08", "04"},
        {"sdd", usb + "1-3/1-3:1.0/host8/target8:0:0/8:0:0:0", "31250000", "1", "0", "SanDisk",
         "Cruzer Blade", usb + "1-3/1-3:1.0", "08", "06"},
        {"sdab", usb + "1-4/1-4:1.0/host9/target9:0:0/9:0:0:0", "1440", "1", "0", "", "",
         usb + "1-4/1-4:1.0", "08", "06"},
        {"sr0", "pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0", "2880", "1", "0",
         "HL-DT-ST", "DVDRAM GH24NSD1", "", "", ""},
        {"loop0", "", "2880", "0", "0", "", "", "", "", ""},
    };
    for (const auto& disk : disks) addDisk(root, disk);
}

}  // namespace fakesysfs
