// Whether a file a build puts on the diskette looks like what its name promises: a board's
// BIOS image (bios.rom, bios.qvx) or a device's option ROM (the project's vgabios.exe when it
// is one). One function over the file's bytes and its role answers, with findings for people
// and stable names for scripts; the build asks before erasing when any is not a pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace build {

enum class PayloadRole {
    SystemImage,  // the image the flash utility writes into the board's flash chip
    OptionRom,    // a device's ROM, checked only when it is one (0x55 0xAA)
};

enum class PayloadLevel { Pass, Warn, Fail };

// "pass", "warn", "fail".
const char* payloadLevelName(PayloadLevel level);

struct PayloadFinding {
    PayloadLevel level = PayloadLevel::Pass;
    // "size", "blank", "package", "layout", "reset-vector", "flash-descriptor", "part-number",
    // "option-rom": one of these, never changed once published.
    std::string name;
    std::uint64_t offset = 0;  // where in the file it looked
    std::string text;          // a sentence for people
};

// The findings for one file's bytes in its role. `partNumber` is looked for as text in a
// system image; an empty one is not looked for (the start directory's own files name none).
std::vector<PayloadFinding> checkPayload(std::span<const std::uint8_t> bytes, PayloadRole role,
                                         std::string_view partNumber);

// The findings of one file of the diskette's list.
struct PayloadReport {
    std::string file;    // on the diskette: "bios.rom"
    std::string source;  // the file that was read
    std::vector<PayloadFinding> findings;
};

// The worst level among the reports' findings.
PayloadLevel worstLevel(const std::vector<PayloadReport>& reports);

// The role a file of the diskette's list has, and whether its content is checked at all.
bool payloadRoleOf(std::string_view diskName, PayloadRole& role);

// One finding as a line: "warn  size (offset 0): ...".
std::string findingLine(const PayloadFinding& finding);

}  // namespace build
