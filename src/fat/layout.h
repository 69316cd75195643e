// Where each field of the boot sector and of a directory entry lies, in bytes from the
// record's start. Fields are read and written through the helpers in endian.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fat/sector_device.h"

namespace fat {

namespace boot {
inline constexpr std::size_t kJump = 0x00;               // 3 bytes: jump over the parameters
inline constexpr std::size_t kOemName = 0x03;            // 8 bytes: name of the formatter
inline constexpr std::size_t kBytesPerSector = 0x0B;     // u16: bytes
inline constexpr std::size_t kSectorsPerCluster = 0x0D;  // u8: sectors, a power of two
inline constexpr std::size_t kReservedSectors = 0x0E;    // u16: sectors before the first FAT
inline constexpr std::size_t kFatCount = 0x10;           // u8: copies of the FAT
inline constexpr std::size_t kRootEntries = 0x11;        // u16: 32-byte root entries
inline constexpr std::size_t kTotalSectors16 = 0x13;   // u16: sectors; 0 means see kTotalSectors32
inline constexpr std::size_t kMedia = 0x15;            // u8: media descriptor
inline constexpr std::size_t kSectorsPerFat = 0x16;    // u16: sectors per FAT copy
inline constexpr std::size_t kSectorsPerTrack = 0x18;  // u16: sectors, for the BIOS
inline constexpr std::size_t kHeads = 0x1A;            // u16: heads, for the BIOS
inline constexpr std::size_t kHiddenSectors = 0x1C;    // u32: sectors before the volume
inline constexpr std::size_t kTotalSectors32 = 0x20;   // u32: sectors, when kTotalSectors16 is 0
inline constexpr std::size_t kDriveNumber = 0x24;      // u8: BIOS drive, 0 for the first diskette
inline constexpr std::size_t kReserved1 = 0x25;        // u8: zero
inline constexpr std::size_t kExtSignature = 0x26;     // u8: 0x29 when the next three fields exist
inline constexpr std::size_t kSerial = 0x27;           // u32: volume serial number
inline constexpr std::size_t kLabel = 0x2B;            // 11 bytes: volume label, space padded
inline constexpr std::size_t kFsType = 0x36;           // 8 bytes: "FAT12   ", informative only
inline constexpr std::size_t kBootCode = 0x3E;         // up to kSignature: boot program
inline constexpr std::size_t kSignature = 0x1FE;       // u16: 0xAA55 (bytes 55 AA)
inline constexpr std::size_t kSize = 512;

inline constexpr std::uint8_t kExtSignatureValue = 0x29;
inline constexpr std::uint16_t kSignatureValue = 0xAA55;
static_assert(kSize == kSectorSize, "the boot sector is one sector");
static_assert(kBootCode == kFsType + 8, "boot code follows the extended parameters");
}  // namespace boot

namespace dirent {
inline constexpr std::size_t kName = 0;           // 11 bytes: 8 name + 3 extension, space padded
inline constexpr std::size_t kAttributes = 11;    // u8: kAttr* flags
inline constexpr std::size_t kCaseFlags = 12;     // u8: zero; we store names in capitals
inline constexpr std::size_t kCreateTenths = 13;  // u8: 10 ms units added to kCreateTime, 0..199
inline constexpr std::size_t kCreateTime = 14;    // u16: DOS time
inline constexpr std::size_t kCreateDate = 16;    // u16: DOS date
inline constexpr std::size_t kAccessDate = 18;    // u16: DOS date
inline constexpr std::size_t kClusterHigh = 20;   // u16: zero on FAT12
inline constexpr std::size_t kWriteTime = 22;     // u16: DOS time
inline constexpr std::size_t kWriteDate = 24;     // u16: DOS date
inline constexpr std::size_t kFirstCluster = 26;  // u16: cluster; 0 for an empty file
inline constexpr std::size_t kFileSize = 28;      // u32: bytes
inline constexpr std::size_t kSize = 32;
static_assert(kFileSize + 4 == kSize, "a directory entry is 32 bytes");
static_assert(kSectorSize % kSize == 0, "entries never straddle a sector");

inline constexpr std::uint8_t kEndMark = 0x00;      // first name byte: no entries follow
inline constexpr std::uint8_t kDeletedMark = 0xE5;  // first name byte: free entry
inline constexpr std::uint8_t kEscapedE5 = 0x05;    // first name byte standing for a real 0xE5

inline constexpr std::uint8_t kAttrReadOnly = 0x01;
inline constexpr std::uint8_t kAttrHidden = 0x02;
inline constexpr std::uint8_t kAttrSystem = 0x04;
inline constexpr std::uint8_t kAttrVolumeLabel = 0x08;
inline constexpr std::uint8_t kAttrDirectory = 0x10;
inline constexpr std::uint8_t kAttrArchive = 0x20;
inline constexpr std::uint8_t kAttrLongName = 0x0F;  // all four low bits: a long-name piece
}  // namespace dirent

// FAT12 entry values.
namespace cluster {
inline constexpr std::uint16_t kFree = 0x000;
inline constexpr std::uint16_t kFirstData = 2;  // cluster numbers start here
inline constexpr std::uint16_t kBad = 0xFF7;
inline constexpr std::uint16_t kEndOfChain = 0xFFF;  // written by us; 0xFF8..0xFFF all end a chain
inline constexpr std::uint16_t kMinEndOfChain = 0xFF8;
inline constexpr std::uint32_t kMaxFat12Clusters = 4084;  // more is FAT16
}  // namespace cluster

}  // namespace fat
