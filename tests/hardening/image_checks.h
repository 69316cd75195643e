// Checks of a FAT12 diskette image that fsck.fat does not make, read straight from the bytes
// with no help from our own file system code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hardening {

// Each fault found, in words; empty when the image passes:
// - the boot sector ends in the 0x55AA signature and describes whole FAT copies and a root
//   directory inside the image;
// - the media byte matches FAT[0] in every FAT copy, and FAT[1] is an end-of-chain mark;
// - no root entry follows the end-of-directory mark;
// - every name is 8.3 in capitals with characters DOS allows, not beginning with a blank;
// - the high cluster word is zero;
// - dates and times are valid (creation and access dates may be left zero).
std::vector<std::string> checkImageStructure(const std::vector<std::uint8_t>& image);

// The faults joined one to a line, for a test message.
std::string joinFaults(const std::vector<std::string>& faults);

}  // namespace hardening
