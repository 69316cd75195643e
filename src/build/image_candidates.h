// The project folder's BIOS image candidates, named by part number, shared by the project
// check and by staging.
#pragma once

#include "framework/afxstr.h"

namespace build {

// The first candidate, project path + "\??" + part number + "???.rom", matched as a pattern
// in the project folder: the real name of the first matching file in byte order, or empty
// text when none matches (the candidate is then absent).
CString FirstImageCandidate(const CString& projectPath, const CString& partNum);

inline CString DevelImageCandidate(const CString& projectPath, const CString& partNum) {
    return projectPath + "\\devel" + partNum + ".rom";
}

inline CString TestImageCandidate(const CString& projectPath, const CString& partNum) {
    return projectPath + "\\test" + partNum + ".rom";
}

}  // namespace build
