#include "framework/afxstr.h"

#include "res/resources.h"

int CString::Find(char ch, int start) const {
    if (start < 0 || start >= GetLength()) return -1;
    const auto pos = m_s.find(ch, static_cast<std::size_t>(start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(const char* sub, int start) const {
    if (start < 0 || start > GetLength()) return -1;
    const auto pos = m_s.find(sub, static_cast<std::size_t>(start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

CString CString::Left(int count) const {
    if (count <= 0) return {};
    if (count >= GetLength()) return *this;
    return CString(m_s.substr(0, static_cast<std::size_t>(count)));
}

CString CString::Right(int count) const {
    if (count <= 0) return {};
    if (count >= GetLength()) return *this;
    return CString(m_s.substr(m_s.size() - static_cast<std::size_t>(count)));
}

CString CString::Mid(int first) const {
    return Mid(first, GetLength());
}

CString CString::Mid(int first, int count) const {
    if (first < 0) first = 0;
    if (count < 0 || first >= GetLength()) return {};
    return CString(m_s.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(count)));
}

bool CString::LoadString(int id) {
    m_s = res::loadString(id);
    return !m_s.empty();
}
