#include "build/image_candidates.h"

#include "platform/file_pattern.h"

namespace build {

CString FirstImageCandidate(const CString& projectPath, const CString& partNum) {
    // The part number is text, not a pattern: a '?' in it stands for a '?'.
    const auto pattern =
        platform::NamePattern().any(2).literal(partNum.str()).any(3).literal(".rom");
    auto found = platform::findFirstMatch((projectPath + "\\").str(), pattern, true);
    return found ? CString(*found) : CString();
}

}  // namespace build
