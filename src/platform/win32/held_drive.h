// The drive A: a build of this process holds, for the sessions within it that borrow the
// hold's handle (exclusive_hold.h), and what drive_a.cpp and exclusive_hold.cpp share about
// drives on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/native_handle.h"

namespace platform {

// Drive A: as a build of this process resolved it when it took its hold.
struct HeldDriveA {
    std::string path;
    bool held = false;         // false: nothing was there to hold (the presence check says why)
    bool blockDevice = false;  // a drive letter's raw volume, not an image file
    std::uint64_t device = 0;  // files: the volume's serial number; volumes: the letter
    std::uint64_t inode = 0;   // files only: the file's index on its volume
    NativeHandle handle;       // the hold's handle, open for writing where that is allowed
    bool handleWritable = false;
};

// The drive A: of the latest build of this process still running; none outside a build.
std::optional<HeldDriveA> driveAHeldHere();

// True when a drive A: that this process holds is that volume (`blockDevice`, its letter) or
// that file (its volume's serial number and its index).
bool driveHeldHere(bool blockDevice, std::uint64_t device, std::uint64_t inode);

namespace win32 {

// The letter of a drive named as "B:", "B:\\" (its root folder) or "\\.\B:" (either case),
// in capitals; none for anything else, which names an image file.
std::optional<char> volumeLetter(const std::string& path);
// "\\.\B:", what CreateFileA opens the raw volume of drive B: by.
std::string volumePath(char letter);

// What FILE_FLAG_NO_BUFFERING demands of every transfer on a volume: the buffer's address,
// the offset and the count all multiples of the sector (512 bytes). Checked by us before each
// transfer, since not every system that runs this program enforces it.
inline constexpr std::size_t kDeviceAlignment = 4096;  // the page: every sector size divides it
bool alignedForDevice(const void* buffer, std::uint64_t offset, std::size_t bytes);

// The mutex every copy of the program takes, by name, for a drive letter while a build holds
// the drive or a session locks it: a refused volume lock does not say who holds the drive, and
// a system that does not carry out volume locks (wine) keeps nobody out by them. None, with
// `heldElsewhere` set, while another hold or session has it, in this process or another.
std::optional<NativeHandle> takeVolumeMutex(char letter, bool& heldElsewhere);
void giveBackVolumeMutex(NativeHandle mutex, char letter);

// Whether a media type the drive's driver offers (IOCTL_DISK_GET_MEDIA_TYPES) is a diskette's.
bool isDisketteMediaType(std::uint32_t type);
// Whether the drive open at `drive` offers a diskette's media type, as its driver answers.
bool offersDisketteMedia(NativeHandle drive);

// The byte range that builds and sessions lock (LockFileEx) on an image file: far past the end
// of any diskette, so that the lock keeps other builds out without refusing anyone's reads and
// writes of the image itself (Windows' byte-range locks are mandatory: a lock over the data
// would refuse the build's own second handle as well).
inline constexpr std::uint64_t kImageLockOffset = std::uint64_t{1} << 40;
inline constexpr std::uint32_t kImageLockBytes = 1;

}  // namespace win32
}  // namespace platform
