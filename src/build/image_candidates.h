// The project folder's BIOS image candidates, named by part number, shared by the project
// check and by staging.
#pragma once

#include "framework/afxstr.h"

namespace build {

// The first candidate, project path + "\??" + part number + "???.rom": two characters of any
// kind, the part number literally (without regard to case), three of any kind and ".rom". The
// real name of the first non-empty file in byte order that has that shape, or empty text when
// none has (the candidate is then absent).
CString FirstImageCandidate(const CString& projectPath, const CString& partNum);

inline CString DevelImageCandidate(const CString& projectPath, const CString& partNum) {
    return projectPath + "\\devel" + partNum + ".rom";
}

inline CString TestImageCandidate(const CString& projectPath, const CString& partNum) {
    return projectPath + "\\test" + partNum + ".rom";
}

}  // namespace build
