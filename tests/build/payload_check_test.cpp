// The payload checks against real firmware from Debian's packages (seabios, ovmf, ipxe-qemu,
// installed by scripts/install-deps.sh) and against hand-made bad files, one finding each.
#include "build/payload_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace {

using build::PayloadFinding;
using build::PayloadLevel;
using build::PayloadRole;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

std::string lines(const std::vector<PayloadFinding>& findings) {
    std::string text;
    for (const PayloadFinding& f : findings) text += build::findingLine(f) + "\n";
    return text;
}

const PayloadFinding* named(const std::vector<PayloadFinding>& findings, const std::string& name,
                            PayloadLevel level) {
    for (const PayloadFinding& f : findings)
        if (f.name == name && f.level == level) return &f;
    return nullptr;
}

void put(Bytes& b, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<long>(at));
}

void putLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    put(b, at,
        {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
         static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
}

// Every real image, in its role, passes every check and names its layout.
TEST(PayloadCorpus, RealFirmwarePassesAndIsNamed) {
    struct Case {
        const char* folder;
        const char* prefix;
        PayloadRole role;
        const char* layoutName;  // the finding that names the layout
        const char* says;
    };
    const Case cases[] = {
        {"/usr/share/seabios", "bios", PayloadRole::SystemImage, "layout",
         "a legacy BIOS image dated 06/23/99"},
        {"/usr/share/seabios", "vgabios", PayloadRole::OptionRom, "option-rom", "option ROM"},
        {"/usr/share/OVMF", "OVMF_CODE", PayloadRole::SystemImage, "layout",
         "a UEFI image: 2 firmware volumes"},
        {"/usr/lib/ipxe/qemu", "pxe-", PayloadRole::OptionRom, "option-rom", "x86 option ROM"},
        {"/usr/lib/ipxe/qemu", "efi-", PayloadRole::OptionRom, "option-rom", "an EFI image"},
    };
    std::string missing;
    for (const Case& c : cases) {
        std::vector<fs::path> files;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(c.folder, ec))
            if (entry.path().filename().string().starts_with(c.prefix))
                files.push_back(entry.path());
        if (files.empty()) missing += std::string(" ") + c.folder + "/" + c.prefix + "*";
        for (const fs::path& file : files) {
            const auto bytes = fattools::readBytes(file.string());
            ASSERT_TRUE(bytes) << file;
            const auto findings = build::checkPayload(*bytes, c.role, {});
            for (const PayloadFinding& f : findings)
                EXPECT_EQ(f.level, PayloadLevel::Pass) << file << "\n" << lines(findings);
            const bool layoutNamed =
                std::any_of(findings.begin(), findings.end(), [&](const auto& f) {
                    return f.name == c.layoutName && f.text.find(c.says) != std::string::npos;
                });
            EXPECT_TRUE(layoutNamed) << file << "\n" << lines(findings);
        }
    }
    if (!missing.empty())
        GTEST_SKIP() << "not found:" << missing
                     << " (scripts/install-deps.sh installs seabios, ovmf and ipxe-qemu)";
}

// SeaBIOS's image searched for a text it holds, and for one it does not.
TEST(PayloadCorpus, PartNumberIsLookedForAsText) {
    const auto bios = fattools::readBytes("/usr/share/seabios/bios.bin");
    if (!bios) GTEST_SKIP() << "/usr/share/seabios/bios.bin is missing (package seabios)";
    const auto found = build::checkPayload(*bios, PayloadRole::SystemImage, "seabios");
    EXPECT_NE(named(found, "part-number", PayloadLevel::Pass), nullptr) << lines(found);
    const auto missing = build::checkPayload(*bios, PayloadRole::SystemImage, "Q7A");
    EXPECT_NE(named(missing, "part-number", PayloadLevel::Warn), nullptr) << lines(missing);
}

// Each bad file gives its finding at its level, and nothing else of that level is needed to
// tell it: the good image they are made from passes everything.
TEST(PayloadChecks, HandMadeBadFilesGiveTheirFinding) {
    constexpr std::size_t k64K = 65536;
    const Bytes good = fattools::plausibleImage(k64K, "Q7A", 1);
    {
        const auto findings = build::checkPayload(good, PayloadRole::SystemImage, "Q7A");
        for (const PayloadFinding& f : findings)
            EXPECT_EQ(f.level, PayloadLevel::Pass) << lines(findings);
        EXPECT_NE(named(findings, "layout", PayloadLevel::Pass), nullptr) << lines(findings);
    }

    auto with = [&](auto change) {
        Bytes b = good;
        change(b);
        return b;
    };
    Bytes descriptor = with([](Bytes& b) {
        std::fill(b.begin(), b.begin() + 0x40, 0xFF);
        put(b, 16, {0x5A, 0xA5, 0xF0, 0x0F});
        putLe32(b, 20, 0x00000003);    // components at 0x30, one chip
        putLe32(b, 0x30, 0x00000003);  // 4 MiB
    });
    Bytes badRom = with([](Bytes& b) {
        // An x86 option ROM with a PCI data structure at 0x2000, its sum one off.
        std::fill(b.begin() + 0x2000, b.begin() + 0x2400, 0);
        put(b, 0x2000, {0x55, 0xAA, 0x02, 0xEB});
        put(b, 0x2018, {0x40, 0x00});
        put(b, 0x2040, {'P', 'C', 'I', 'R'});
        put(b, 0x2050, {0x02, 0x00});
        put(b, 0x2055, {0x80});
        unsigned sum = 0;
        for (std::size_t i = 0x2000; i < 0x2400; ++i) sum += b[i];
        b[0x2100] = static_cast<std::uint8_t>(0x101 - (sum & 0xFF));
    });
    Bytes loneVolume = with([](Bytes& b) {
        std::fill(b.begin(), b.begin() + 64, 0);
        putLe32(b, 32, 0x10000);  // the volume's length: the whole file
        put(b, 40, {'_', 'F', 'V', 'H'});
        put(b, 48, {0x48, 0x00});
    });
    Bytes capsule = with([](Bytes& b) {
        put(b, 0,
            {0xBD, 0x86, 0x66, 0x3B, 0x76, 0x0D, 0x30, 0x40, 0xB7, 0x0E, 0xB5, 0x51, 0x9E, 0x2F,
             0xC5, 0xA0});
    });
    Bytes noDate = with([](Bytes& b) { put(b, b.size() - 11, {'1', '3', '/', '0', '1'}); });

    struct Case {
        const char* what;
        Bytes bytes;
        PayloadRole role;
        const char* name;
        PayloadLevel level;
        const char* says;
    };
    const Case cases[] = {
        {"truncated", Bytes(good.begin(), good.begin() + 40000), PayloadRole::SystemImage, "size",
         PayloadLevel::Warn, "40,000 bytes is not a flash chip's size"},
        {"truncated", Bytes(good.begin(), good.begin() + 40000), PayloadRole::SystemImage,
         "reset-vector", PayloadLevel::Warn, "no jump"},
        {"all 0xFF", Bytes(k64K, 0xFF), PayloadRole::SystemImage, "blank", PayloadLevel::Fail,
         "every byte is 0xFF"},
        {"mostly 0x00", with([](Bytes& b) { std::fill(b.begin() + 100, b.end() - 16, 0); }),
         PayloadRole::SystemImage, "blank", PayloadLevel::Fail, "99% of the bytes are 0x00"},
        {"an .exe", with([](Bytes& b) {
             put(b, 0, {'M', 'Z'});
         }),
         PayloadRole::SystemImage, "package", PayloadLevel::Warn, "a DOS or Windows program"},
        {"a zip", with([](Bytes& b) {
             put(b, 0, {'P', 'K', 3, 4});
         }),
         PayloadRole::SystemImage, "package", PayloadLevel::Warn, "a zip archive"},
        {"a capsule", capsule, PayloadRole::SystemImage, "package", PayloadLevel::Warn,
         "a UEFI capsule"},
        {"a lone volume", loneVolume, PayloadRole::SystemImage, "package", PayloadLevel::Warn,
         "one firmware volume"},
        {"a jump without its date", noDate, PayloadRole::SystemImage, "reset-vector",
         PayloadLevel::Warn, "no MM/DD/YY date"},
        {"a descriptor of 4 MiB", descriptor, PayloadRole::SystemImage, "flash-descriptor",
         PayloadLevel::Warn, "declares 4 MiB of flash, the file holds 65,536 bytes"},
        {"another board's image", fattools::plausibleImage(k64K, "Q7B", 1),
         PayloadRole::SystemImage, "part-number", PayloadLevel::Warn, "appears nowhere"},
        {"an option ROM inside", badRom, PayloadRole::SystemImage, "option-rom", PayloadLevel::Warn,
         "has the 8-bit sum 0x1, not 0"},
        {"vgabios.exe with a wrong sum", Bytes(badRom.begin() + 0x2000, badRom.begin() + 0x2400),
         PayloadRole::OptionRom, "option-rom", PayloadLevel::Warn, "has the 8-bit sum 0x1"},
        {"vgabios.exe cut short", Bytes(badRom.begin() + 0x2000, badRom.begin() + 0x2200),
         PayloadRole::OptionRom, "option-rom", PayloadLevel::Warn, "cut short"},
        {"vgabios.exe as a program", Bytes{'M', 'Z', 0x90, 0}, PayloadRole::OptionRom, "option-rom",
         PayloadLevel::Pass, "a program"},
    };
    for (const Case& c : cases) {
        const auto findings = build::checkPayload(c.bytes, c.role, "Q7A");
        const PayloadFinding* f = named(findings, c.name, c.level);
        ASSERT_NE(f, nullptr) << c.what << "\n" << lines(findings);
        EXPECT_NE(f->text.find(c.says), std::string::npos) << c.what << "\n" << lines(findings);
    }

    // A descriptor whose density agrees explains the layout: no reset vector is asked for.
    Bytes agrees = descriptor;
    putLe32(agrees, 0x30, 0x00000000);  // 512 KiB
    agrees.resize(512 * 1024, 0xFF);
    const auto findings = build::checkPayload(agrees, PayloadRole::SystemImage, "Q7A");
    EXPECT_NE(named(findings, "flash-descriptor", PayloadLevel::Pass), nullptr) << lines(findings);
    EXPECT_NE(named(findings, "reset-vector", PayloadLevel::Pass), nullptr) << lines(findings);
}

}  // namespace
