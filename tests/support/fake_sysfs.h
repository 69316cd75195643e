// A sysfs tree made up in a folder, laid out as the kernel lays out /sys: block/<name> links
// to the disk's folder under devices/, whose "device" link points back at the hardware.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace fakesysfs {

namespace fs = std::filesystem;

inline void writeAttribute(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text << '\n';
}

struct Disk {
    std::string name, sectors, removable, ro, vendor, model;
    std::string hardware;       // folder under devices/; empty: a virtual device (loop, ram)
    std::string usbClass = "";  // "08 04": hardware is a USB interface of this class, subclass
};

inline void addDisk(const fs::path& root, const Disk& d) {
    fs::path owner = d.hardware.empty() ? "virtual" : d.hardware;
    if (!d.usbClass.empty()) {
        writeAttribute(root / "devices" / owner / "bInterfaceClass", d.usbClass.substr(0, 2));
        writeAttribute(root / "devices" / owner / "bInterfaceSubClass", d.usbClass.substr(3));
        owner /= "host6/target6:0:0/6:0:0:0";  // the SCSI disk below the interface
    }
    const fs::path folder = root / "devices" / owner / "block" / d.name;
    fs::create_directories(folder);
    fs::create_directories(root / "block");
    fs::create_directory_symlink(".." / fs::relative(folder, root), root / "block" / d.name);
    writeAttribute(folder / "size", d.sectors);
    writeAttribute(folder / "removable", d.removable);
    writeAttribute(folder / "ro", d.ro);
    if (d.hardware.empty()) return;
    fs::create_directory_symlink("../..", folder / "device");
    writeAttribute(root / "devices" / owner / "vendor", d.vendor);
    writeAttribute(root / "devices" / owner / "model", d.model);
}

// The machine of the drive tests: a floppy controller drive, a USB floppy drive with a
// write-protected diskette in and one without, a removable drive of another kind holding a
// 720 KB diskette, and what must never be taken for a floppy drive (a fixed disk, a 16 GB USB
// stick, a CD drive and a loop device, the last two with a medium of a diskette's size).
inline void addMachine(const fs::path& root) {
    const std::string usb = "pci0000:00/usb1/";
    for (const Disk& disk : std::initializer_list<Disk>{
             {"fd0", "2880", "1", "0", "", "", "platform/floppy.0"},
             {"sda", "1000215216", "0", "0", "ATA", "Samsung SSD 870", "pci0000:00/ata1/0:0"},
             // behind a hub: port 3 of the hub on port 1 of bus 2
             {"sdb", "2880", "1", "1", "TEAC    ", "FD-05PUB   ",
              "pci0000:00/usb2/2-1/2-1.3/2-1.3:1.0", "08 04"},
             {"sdc", "0", "1", "0", "Y-E DATA", "USB\tFDU", usb + "1-2:1.0", "08 04"},
             {"sdd", "31250000", "1", "0", "SanDisk", "Cruzer Blade", usb + "1-3:1.0", "08 06"},
             {"sdab", "1440", "1", "0", "", "", usb + "1-4:1.0", "08 06"},
             {"sr0", "2880", "1", "0", "HL-DT-ST", "DVDRAM GH24NSD1", "pci0000:00/ata2/1:0"},
             {"loop0", "2880", "0", "0", "", "", ""},
         }) {
        addDisk(root, disk);
    }
}

}  // namespace fakesysfs
