#include "cli/boot_check.h"

#include <algorithm>
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
#include "cli/system_words.h"
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
// What the sample boot sector writes before it loads MINIDOS.SYS: the sample kit is on the
// diskette, and its MINIDOS.SYS must still show itself.
constexpr char kSampleLoaderBanner[] = "Quenvol sample boot sector";
// The firmware's line as it hands over to the diskette's boot sector.
constexpr char kFirmwareBootLine[] = "Booting from Floppy";
// Texts a firmware, a boot sector or a system shows when the system did not start, compared
// without regard to case: the firmware's, the usual boot sectors', and the sample kit's.
constexpr const char* kFailureTexts[] = {
    "Boot failed",
    "No bootable device",
    "Non-system disk",
    "Disk error",
    "Disk read error",
    "Invalid system disk",
    "Missing operating system",
    "Operating system not found",
    "Error loading operating system",
    "No MINIDOS.SYS",
    "MINIDOS.SYS unreadable",
    "Neither BIOS.ROM nor BIOS.QVX",
    "cluster chain is broken",
};
// The monitor's answer once the machine has stopped at a reset or a power-off: the emulator
// is told to pause there, so that the screen can still be read.
constexpr char kStoppedAtReset[] = "paused (shutdown)";
constexpr auto kPoll = std::chrono::milliseconds(100);
constexpr int kPollsPerLook = 10;  // the machine's state and screen are looked at every second
constexpr auto kQuitGrace = std::chrono::seconds(10);

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What was added to `path` since `offset`, which moves past it: the monitor's output grows
// all the time, and is read once.
std::string readOn(const std::string& path, std::streamoff& offset) {
    std::ifstream in(path, std::ios::binary);
    if (!in || !in.seekg(offset)) return {};
    std::ostringstream text;
    text << in.rdbuf();
    std::string added = text.str();
    offset += static_cast<std::streamoff>(added.size());
    return added;
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
    return emulator.start(
        {program, "-nodefaults", "-no-user-config", "-accel", "tcg", "-M", "pc", "-m", "16", "-vga",
         "std", "-drive", drive, "-boot", "a", "-display", "none", "-nic", "none",
         // A reset or a power-off stops the machine where it is.
         "-action", "reboot=shutdown,shutdown=pause", "-serial", serial, "-monitor", "stdio",
         "-chardev", firmware, "-device", "isa-debugcon,iobase=0x402,chardev=firmware"},
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
// The sample's MINIDOS.SYS always prints the line when it runs, so a diskette that shows the
// sample's boot sector or system without it failed, with or without an image to compare.
void compareBiosImage(build::RecordBootCheck& check, const std::string& serial,
                      const std::optional<std::string>& expectedPath) {
    check.biosPrinted = sampleBiosLine(serial);
    if (!check.biosPrinted) check.biosPrinted = sampleBiosLine(check.screen);
    const std::string name = check.biosPrinted ? check.biosPrinted->name : "BIOS.ROM";
    if (expectedPath) check.biosExpected = hostImage(*expectedPath, name);
    if (!check.biosPrinted) {
        // Only the sample prints the line; a real kit's system shows other things.
        const bool sample =
            (serial + check.screen).find(kSampleSystemMarker) != std::string::npos ||
            check.screen.find(kSampleLoaderBanner) != std::string::npos;
        if (!sample) return;
        check.biosIntact = false;
        check.biosVerdict =
            "the booted diskette's sample MINIDOS.SYS printed no size and CRC-32 of the BIOS "
            "image (its screen says why)";
        return;
    }
    if (!expectedPath) return;
    if (!check.biosExpected) {
        check.biosVerdict = "the BIOS image " + *expectedPath + " the build chose cannot be read";
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

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string trimmed(const std::string& line) {
    const auto first = line.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

// The first line of `text` that holds a failure text, or nothing.
std::string failureLine(const std::string& text) {
    for (const std::string& line : linesOf(text)) {
        const std::string low = lower(line);
        for (const char* failure : kFailureTexts)
            if (low.find(lower(failure)) != std::string::npos) return trimmed(line);
    }
    return {};
}

std::size_t count(const std::string& text, const char* what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// What the screen shows past the firmware's last boot line (all of it when the system has
// cleared the screen or scrolled the line away), without the sample boot sector's banner.
std::string systemWords(const std::string& screen) {
    std::vector<std::string> lines = linesOf(screen);
    std::size_t from = 0;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(kFirmwareBootLine) != std::string::npos) from = i + 1;
    std::string words;
    for (std::size_t i = from; i < lines.size(); ++i) {
        const std::string line = trimmed(lines[i]);
        if (line.empty() || line == kSampleLoaderBanner) continue;
        words += line + "\n";
    }
    return words;
}

// `bytes` in a file made new at `path`: a file already there is never replaced. What failed,
// or nothing.
std::string writeNew(const std::string& path, const std::string& bytes) {
    auto file = sys::NewFile::create(path);
    if (!file) return file.message();
    if (auto wrote = file->write(bytes.data(), bytes.size()); !wrote) return wrote.message();
    if (auto finished = file->finish(); !finished) return finished.message();
    return {};
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

std::string whyNotStarted(const BootSeen& seen) {
    const std::string seconds = std::to_string(seen.seconds) + " s";
    const auto bootable = firmwareFoundBootable(seen.firmware + "\n" + seen.screen);
    if (bootable == false) {
        return "the firmware found the diskette not bootable: \"" +
               failureLine(seen.screen + "\n" + seen.firmware) + "\"";
    }
    if (!bootable && seen.serial.empty()) {
        return "the firmware's screen does not say whether it started the diskette after " +
               seconds + "; a longer --boot-check=SECONDS may tell";
    }
    if (std::string line = failureLine(seen.screen + "\n" + seen.serial); !line.empty())
        return "the screen says \"" + line + "\"";
    if (seen.reset) return "the machine reset itself instead of running the diskette's system";
    if (const auto boots = count(seen.firmware, kFirmwareBootLine); boots > 1) {
        return "the machine started the diskette again and again (the firmware's \"" +
               std::string(kFirmwareBootLine) + "...\" came " + std::to_string(boots) +
               " times) instead of running its system";
    }
    if (systemWords(seen.screen).empty()) {
        return "nothing of the diskette's system shows past the firmware's \"" +
               std::string(kFirmwareBootLine) + "...\" after " + seconds +
               ": it stopped without a word (a longer --boot-check=SECONDS may tell)";
    }
    return {};
}

std::string emulatorWords(const std::string& output) {
    std::string words;
    for (const std::string& line : linesOf(output)) {
        if (line.find("(qemu)") != std::string::npos || line.rfind("QEMU ", 0) == 0 ||
            line.rfind("VM status", 0) == 0 || trimmed(line).empty())
            continue;
        words += (words.empty() ? "" : "; ") + trimmed(line);
    }
    return words.empty() ? "it said nothing" : words;
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
                         kEmulatorProgram + ") " + words::kEmulatorAdvice;
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
    const std::string firmwarePath = work / "firmware.txt";
    const std::string outputPath = work / "emulator.txt";
    const std::string videoPath = work / "video.bin";
    const std::string ppmPath = work / "screen.ppm";
    const std::string saveVideo = "pmemsave " + std::to_string(kVideoMemory) + " " +
                                  std::to_string(kVideoBytes) + " \"" + videoPath + "\"";
    bool alive = true, reset = false;
    std::streamoff outputRead = 0;
    std::string output;  // the monitor's latest output, with a little before it
    for (int poll = 1; Clock::now() < limit; ++poll) {
        if (!(alive = emulator.running())) break;
        if (platform::interrupted()) return fail("interrupted");
        const std::string serial = readWhole(serialPath);
        if (serial.find(kGuestEndMarker) != std::string::npos) {
            result.record.endedByGuest = true;
            break;
        }
        // The firmware has found nothing to start and would only wait and try again, or it
        // has been asked to start the diskette again: more time shows nothing new.
        const std::string firmware = readWhole(firmwarePath);
        if (firmwareFoundBootable(firmware) == false || count(firmware, kFirmwareBootLine) > 1)
            break;
        if (poll % kPollsPerLook == 0) {
            // What the last look found: a machine stopped at a reset, or a failure text on its
            // screen (a boot sector that says so waits for a key that never comes).
            output = output.substr(output.size() - std::min<std::size_t>(output.size(), 64)) +
                     readOn(outputPath, outputRead);
            if ((reset = output.find(kStoppedAtReset) != std::string::npos)) break;
            const std::string video = readWhole(videoPath);
            if (video.size() == kVideoBytes &&
                !failureLine(screenText({reinterpret_cast<const std::uint8_t*>(video.data()),
                                         video.size()}) +
                             serial)
                     .empty())
                break;
            emulator.sendLine("info status");
            emulator.sendLine(saveVideo);
        }
        std::this_thread::sleep_for(kPoll);
    }
    const auto ran = Clock::now() - began;
    result.record.seconds =
        static_cast<std::uint64_t>(std::chrono::ceil<std::chrono::seconds>(ran).count());

    // The emulator ends only when told to: one that ended by itself has failed.
    auto emulatorFailed = [&](const std::string& what) {
        const auto status = emulator.exitStatus();
        return fail("the emulator (" + program + ") " + what + " (" +
                    (status ? "status " + std::to_string(*status) : std::string("killed")) +
                    "): " + emulatorWords(readWhole(outputPath)));
    };
    if (!alive) return emulatorFailed("ended before the diskette's screen could be read");
    std::remove(videoPath.c_str());  // only the answer to the last request counts
    emulator.sendLine("info status");
    emulator.sendLine(saveVideo);
    if (request.screenFile) emulator.sendLine("screendump \"" + ppmPath + "\"");
    emulator.sendLine("quit");
    emulator.awaitEnd(kQuitGrace);
    const std::string video = readWhole(videoPath);
    if (video.size() != kVideoBytes) return emulatorFailed("did not answer with the screen");
    reset = reset || readWhole(outputPath).find(kStoppedAtReset) != std::string::npos;

    const std::string serial = readWhole(serialPath);
    const std::string firmware = readWhole(firmwarePath);
    result.record.ran = true;
    result.record.screen =
        screenText({reinterpret_cast<const std::uint8_t*>(video.data()), video.size()});
    result.record.bootable = firmwareFoundBootable(firmware + "\n" + result.record.screen);
    // A system that writes on the serial port was started, whatever the screen kept.
    if (!result.record.bootable && !serial.empty()) result.record.bootable = true;
    result.notStarted =
        whyNotStarted({firmware, result.record.screen, serial, reset, result.record.seconds});
    result.record.started = result.notStarted.empty();
    if (!result.notStarted.empty()) result.record.message = result.notStarted;
    compareBiosImage(result.record, serial, request.expectedImage);

    if (request.screenFile) {
        const std::string png = pngOfPpm(readWhole(ppmPath));
        std::string why = png.empty() ? "the emulator gave no picture of the screen"
                                      : writeNew(*request.screenFile, png);
        if (why.empty()) {
            result.record.screenPng = *request.screenFile;
        } else {
            result.message = "no screen picture: " + why;
            result.record.message = result.record.message
                                        ? *result.record.message + "; " + result.message
                                        : result.message;
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
