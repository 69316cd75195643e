#include "cli/boot_check.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "cli/disk_image.h"
#include "cli/system.h"
#include "platform/interrupts.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kVideoMemory = 0xB8000;
constexpr std::size_t kColumns = 80, kRows = 25;
constexpr std::size_t kVideoBytes = kColumns * kRows * 2;
// The sample MINIDOS.SYS's last line on COM1: the guest has nothing more to show.
constexpr char kGuestEndMarker[] = "End of the sample.";
constexpr char kSampleSystemMarker[] = "Sample MINIDOS.SYS";
constexpr auto kPoll = std::chrono::milliseconds(100);
constexpr auto kQuitGrace = std::chrono::seconds(10);

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// An option's value doubles its commas, which would otherwise end it.
std::string escapeOption(const std::string& value) {
    std::string out;
    for (char c : value) out += c == ',' ? std::string(",,") : std::string(1, c);
    return out;
}

// The emulator on the image, with its monitor on our pipe; what failed, or nothing.
std::string startEmulator(sys::ChildProcess& emulator, const std::string& program,
                          const sys::WorkFolder& work) {
    const std::string drive =
        "file=" + escapeOption(work / "a.img") + ",if=floppy,format=raw,readonly=on";
    const std::string serial = "file:" + work / "serial.txt";
    // The firmware's own log port: what it says, also after a guest has cleared the screen.
    const std::string firmware = "file,id=firmware,path=" + escapeOption(work / "firmware.txt");
    // Software emulation only, no network, no drive but the diskette, no display.
    return emulator.start({program,
                           "-nodefaults",
                           "-no-user-config",
                           "-accel",
                           "tcg",
                           "-M",
                           "pc",
                           "-m",
                           "16",
                           "-vga",
                           "std",
                           "-drive",
                           drive,
                           "-boot",
                           "a",
                           "-display",
                           "none",
                           "-nic",
                           "none",
                           "-no-reboot",
                           "-serial",
                           serial,
                           "-monitor",
                           "stdio",
                           "-chardev",
                           firmware,
                           "-device",
                           "isa-debugcon,iobase=0x402,chardev=firmware"},
                          work / "emulator.txt");
}

std::string crcText(std::uint32_t crc) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(crc));
    return text;
}

std::string describeRead(const build::RecordBiosRead& read) {
    return std::to_string(read.bytes) + " bytes, CRC-32 " + crcText(read.crc32);
}

// The host file's size and CRC-32, named as the booted machine named what it read.
std::optional<build::RecordBiosRead> hostImage(const std::string& path, const std::string& name) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    build::RecordBiosRead read{name, 0, 0};
    std::array<char, 65536> chunk{};
    while (in) {
        in.read(chunk.data(), chunk.size());
        const auto got = static_cast<std::size_t>(in.gcount());
        read.crc32 = crc32({reinterpret_cast<const std::uint8_t*>(chunk.data()), got}, read.crc32);
        read.bytes += got;
    }
    if (in.bad()) return std::nullopt;
    return read;
}

// The sample kit's check: what the booted machine printed against the image the build chose.
void compareBiosImage(build::RecordBootCheck& check, const std::string& serial,
                      const std::optional<std::string>& expectedPath) {
    check.biosPrinted = sampleBiosLine(serial);
    if (!expectedPath) return;
    const std::string name = check.biosPrinted ? check.biosPrinted->name : "BIOS.ROM";
    check.biosExpected = hostImage(*expectedPath, name);
    if (!check.biosExpected) {
        check.biosVerdict = "the BIOS image " + *expectedPath + " the build chose cannot be read";
        return;
    }
    if (!check.biosPrinted) {
        // Only the sample system prints the line; a real kit's system shows other things.
        if (serial.find(kSampleSystemMarker) == std::string::npos) return;
        check.biosIntact = false;
        check.biosVerdict =
            "the booted sample MINIDOS.SYS printed no size and CRC-32 of the BIOS image (its "
            "screen says why)";
        return;
    }
    const auto& printed = *check.biosPrinted;
    const auto& expected = *check.biosExpected;
    check.biosIntact = printed.bytes == expected.bytes && printed.crc32 == expected.crc32;
    if (*check.biosIntact) {
        check.biosVerdict = "the booted diskette reads " + printed.name + " intact";
    } else {
        check.biosVerdict = "the booted diskette reads " + printed.name + " as " +
                            describeRead(printed) + ", but the BIOS image the build chose (" +
                            *expectedPath + ") has " + describeRead(expected);
    }
}

// PNG and zlib write their numbers most significant byte first.
void appendBE32(std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void appendChunk(std::string& png, const char* type, const std::string& data) {
    appendBE32(png, static_cast<std::uint32_t>(data.size()));
    const std::string typed = std::string(type, 4) + data;
    png += typed;
    appendBE32(png, crc32({reinterpret_cast<const std::uint8_t*>(typed.data()), typed.size()}));
}

}  // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::uint8_t b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string screenText(std::span<const std::uint8_t> video) {
    std::string text;
    std::size_t keep = 0;  // the text up to the last line that is not blank
    for (std::size_t row = 0; row < kRows; ++row) {
        std::string line;
        for (std::size_t col = 0; col < kColumns; ++col) {
            const std::size_t at = (row * kColumns + col) * 2;
            const std::uint8_t c = at < video.size() ? video[at] : 0;
            // Code page 437's drawing characters and controls are shown as what they stand for
            // at best; plain ASCII is what the firmware and the sample write.
            line += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : c == 0 ? ' ' : '?';
        }
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + "\n";
        if (!line.empty()) keep = text.size();
    }
    text.resize(keep);
    return text;
}

std::optional<bool> firmwareFoundBootable(const std::string& words) {
    // The firmware's own words: it says when a disk has no boot signature or cannot be read,
    // and when it found nothing to start at all; when it starts a diskette it says so first.
    if (words.find("Boot failed") != std::string::npos ||
        words.find("No bootable device") != std::string::npos)
        return false;
    if (words.find("Booting from Floppy") != std::string::npos) return true;
    return std::nullopt;
}

std::optional<build::RecordBiosRead> sampleBiosLine(const std::string& text) {
    std::optional<build::RecordBiosRead> found;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        unsigned long long bytes = 0;
        unsigned crc = 0;
        char name[13] = {};
        char hex[9] = {};
        int used = 0;
        if (std::sscanf(line.c_str(), "%12[A-Z0-9.]: %llu bytes, CRC-32 %8[0-9A-F]%n", name, &bytes,
                        hex, &used) == 3 &&
            static_cast<std::size_t>(used) == line.size() && std::strlen(hex) == 8 &&
            std::sscanf(hex, "%x", &crc) == 1) {
            found = build::RecordBiosRead{name, bytes, crc};
        }
    }
    return found;
}

std::string pngOfPpm(const std::string& ppm) {
    std::istringstream in(ppm);
    std::string magic;
    unsigned long width = 0, height = 0, maxval = 0;
    in >> magic >> width >> height >> maxval;
    if (!in || magic != "P6" || maxval != 255 || width == 0 || height == 0 || width > 4096 ||
        height > 4096 || in.get() == EOF)
        return {};
    const auto offset = static_cast<std::size_t>(in.tellg());
    const std::size_t rowBytes = width * 3;
    if (ppm.size() < offset + rowBytes * height) return {};

    // The image data: each row after a filter byte of 0, in stored (uncompressed) deflate
    // blocks of at most 65,535 bytes, in a zlib stream.
    std::string raw;
    raw.reserve((rowBytes + 1) * height);
    for (unsigned long row = 0; row < height; ++row) {
        raw += '\0';
        raw.append(ppm, offset + row * rowBytes, rowBytes);
    }
    std::string zlib = "\x78\x01";
    for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
        const bool last = at + n >= raw.size();
        zlib += static_cast<char>(last ? 1 : 0);
        zlib += static_cast<char>(n & 0xFF);
        zlib += static_cast<char>(n >> 8);
        zlib += static_cast<char>(~n & 0xFF);
        zlib += static_cast<char>((~n >> 8) & 0xFF);
        zlib.append(raw, at, n);
        if (last) break;
    }
    std::uint32_t a = 1, b = 0;  // Adler-32 of the uncompressed data
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    appendBE32(zlib, (b << 16) | a);

    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    appendBE32(header, static_cast<std::uint32_t>(width));
    appendBE32(header, static_cast<std::uint32_t>(height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, no interlace
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", zlib);
    appendChunk(png, "IEND", {});
    return png;
}

namespace {

BootCheck runBootCheck(const BootCheckRequest& request) {
    BootCheck result;
    result.record.limitSeconds = request.seconds;
    const std::string program = sys::findProgram(kEmulatorProgram);
    if (program.empty()) {
        result.state = BootCheck::State::NoEmulator;
        result.message = std::string("the diskette was not started: no emulator (") +
                         kEmulatorProgram + ") on PATH; install the Debian package " +
                         kEmulatorPackage;
        result.record.message = result.message;
        return result;
    }
    auto fail = [&](std::string why, std::optional<base::Failure> kind = base::Failure::Other) {
        result.state = BootCheck::State::Failed;
        result.failure = kind;
        result.message = std::move(why);
        result.record.message = result.message;
        return result;
    };
    const sys::WorkFolder work(
        {"a.img", "serial.txt", "firmware.txt", "emulator.txt", "video.bin", "screen.ppm"});
    if (work.path().empty())
        return fail("no temporary folder for the boot check: " + work.reason());
    // The emulator gets a copy: the diskette itself is only read, once.
    const ImageCopy copy = copyDriveAToFile(work / "a.img", false);
    if (!copy.ok)
        return fail("drive A: could not be read for the boot check: " + copy.message, copy.failure);

    sys::ChildProcess emulator;
    if (std::string why = startEmulator(emulator, program, work); !why.empty()) return fail(why);
    const auto began = Clock::now();
    const auto limit = began + std::chrono::seconds(request.seconds);
    const std::string serialPath = work / "serial.txt";
    bool alive = true;
    while (Clock::now() < limit) {
        if (!(alive = emulator.running())) break;
        if (platform::interrupted()) return fail("interrupted");
        if (readWhole(serialPath).find(kGuestEndMarker) != std::string::npos) {
            result.record.endedByGuest = true;
            break;
        }
        // The firmware has found nothing to start and would only wait and try again.
        if (firmwareFoundBootable(readWhole(work / "firmware.txt")) == false) break;
        std::this_thread::sleep_for(kPoll);
    }
    const auto ran = Clock::now() - began;
    result.record.ran = true;
    result.record.seconds =
        static_cast<std::uint64_t>(std::chrono::ceil<std::chrono::seconds>(ran).count());

    const std::string videoPath = work / "video.bin";
    const std::string ppmPath = work / "screen.ppm";
    if (alive) {
        emulator.sendLine("pmemsave " + std::to_string(kVideoMemory) + " " +
                          std::to_string(kVideoBytes) + " \"" + videoPath + "\"");
        if (request.screenFile) emulator.sendLine("screendump \"" + ppmPath + "\"");
        emulator.sendLine("quit");
        emulator.awaitEnd(kQuitGrace);
    }
    const std::string serial = readWhole(serialPath);
    const std::string video = readWhole(videoPath);
    if (video.size() == kVideoBytes) {
        result.record.screen =
            screenText({reinterpret_cast<const std::uint8_t*>(video.data()), video.size()});
    } else {
        result.record.endedByGuest = !alive;
        const auto status = emulator.exitStatus();
        result.record.message =
            "the emulated machine ended (" +
            (status ? "status " + std::to_string(*status) : std::string("killed")) +
            ") before its screen could be read: " + readWhole(work / "emulator.txt");
    }
    result.record.bootable =
        firmwareFoundBootable(readWhole(work / "firmware.txt") + "\n" + result.record.screen);
    // A system that writes on the serial port was started, whatever the screen kept.
    if (!result.record.bootable && !serial.empty()) result.record.bootable = true;
    compareBiosImage(result.record, serial, request.expectedImage);

    if (request.screenFile) {
        const std::string png = pngOfPpm(readWhole(ppmPath));
        std::string why = png.empty() ? "the emulator gave no picture of the screen"
                                      : sys::writeFileBeside(*request.screenFile, png);
        if (why.empty()) {
            result.record.screenPng = *request.screenFile;
        } else {
            result.message = "no screen picture: " + why;
            if (!result.record.message) result.record.message = result.message;
        }
    }
    result.state = BootCheck::State::Ran;
    return result;
}

}  // namespace

BootCheck bootCheckDriveA(const BootCheckRequest& request) {
    // SIGINT or SIGTERM ends the check; the emulator and the temporary copy go first.
    platform::InterruptCatch interrupts;
    BootCheck result = runBootCheck(request);
    interrupts.raiseCaught();
    return result;
}

}  // namespace cli
