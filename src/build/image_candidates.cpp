#include "build/image_candidates.h"

#include "platform/file_pattern.h"

namespace build {

CString FirstImageCandidate(const CString& projectPath, const CString& partNum) {
    auto found = platform::expandWildcardName((projectPath + "\\??" + partNum + "???.rom").str());
    return found ? CString(*found) : CString();
}

}  // namespace build
