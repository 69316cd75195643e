// --boot-check: the diskette in drive A: started in an emulated PC, headless, and what a person
// in front of it would have seen: whether the firmware found it bootable, whether the
// diskette's own system then showed itself, the text on the screen at the end, a picture of
// the screen, and for the sample kit the size and CRC-32 of the BIOS image as the booted
// machine read it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "build/build_record.h"

namespace cli {

inline constexpr char kEmulatorProgram[] = "qemu-system-i386";
inline constexpr unsigned kBootCheckDefaultSeconds = 10;
inline constexpr unsigned kBootCheckMaxSeconds = 3600;

struct BootCheckRequest {
    unsigned seconds = kBootCheckDefaultSeconds;
    std::optional<std::string> screenFile;     // --boot-screen: a PNG of the screen at the end
    std::optional<std::string> expectedImage;  // the BIOS image the build chose (host path)
};

struct BootCheck {
    enum class State {
        Ran,         // the emulator ran; see the record for what it showed
        NoEmulator,  // none on PATH: nothing was started, the diskette was not read
        Failed,      // drive A: could not be read, or the emulator failed or did not answer
    };
    State state = State::Failed;
    std::string message;     // NoEmulator and Failed: why; Ran: a problem with the screen picture
    std::string notStarted;  // Ran: why the diskette's system did not start; empty when it did
    std::optional<base::Failure> failure;  // Failed: the kind, for the exit status
    build::RecordBootCheck record;
};

// Copies drive A: into a temporary image (the diskette is only read), boots the copy for at
// most `request.seconds` or until the guest ends its run, and reads the screen back.
BootCheck bootCheckDriveA(const BootCheckRequest& request);

// The pieces, for tests: the 80 x 25 text screen from the bytes of video memory at 0xB8000
// (character, attribute pairs), lines without their trailing blanks, blank lines at the end
// left out.
std::string screenText(std::span<const std::uint8_t> videoMemory);

// Whether the firmware's words (its screen, its log) say it started the diskette; empty when
// they say neither.
std::optional<bool> firmwareFoundBootable(const std::string& words);

// What the emulated machine showed, and whether the diskette's own system started from it.
struct BootSeen {
    std::string firmware;  // the firmware's log
    std::string screen;    // the text screen at the end
    std::string serial;    // what the guest wrote on its first serial port
    bool reset = false;    // the machine reset itself (or switched itself off)
    std::uint64_t seconds = 0;
};
// Why the diskette's system did not start, or nothing when it did: the firmware found the
// diskette not bootable or said nothing, the screen shows a failure text of the firmware, a
// boot sector or a system, the machine restarted, or nothing showed past the firmware's boot
// line (past a boot sector's own banner).
std::string whyNotStarted(const BootSeen& seen);

// The emulator's own words in its output, without its monitor's prompts and answers.
std::string emulatorWords(const std::string& output);

// The sample MINIDOS.SYS's line "BIOS.ROM: 65536 bytes, CRC-32 1A2B3C4D" in `text` (the last
// one, CRs ignored), as name, size and CRC.
std::optional<build::RecordBiosRead> sampleBiosLine(const std::string& text);

// CRC-32 as zip and PNG compute it (polynomial 0xEDB88320), continued from `crc`.
std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

// A binary PPM (P6, maxval 255) as a PNG file's bytes (8-bit RGB, stored deflate blocks);
// empty when `ppm` is no such image.
std::string pngOfPpm(const std::string& ppm);

}  // namespace cli
