// CString: the framework's counted 8-bit text with value semantics.
#pragma once

#include <string>
#include <string_view>

class CString {
  public:
    CString() = default;
    CString(const char* text) : m_s(text ? text : "") {}  // NOLINT: implicit like the original
    CString(std::string text) : m_s(std::move(text)) {}   // NOLINT
    CString(std::string_view text) : m_s(text) {}         // NOLINT
    CString(const char* text, int count) : m_s(text, count > 0 ? count : 0) {}

    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    char GetAt(int index) const { return m_s.at(static_cast<std::size_t>(index)); }

    // Index of the first occurrence, or -1.
    int Find(char ch, int start = 0) const;
    int Find(const char* sub, int start = 0) const;

    // The framework's clamping: a negative count gives empty text, a count past the end
    // gives the whole text.
    CString Left(int count) const;
    CString Right(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;

    // Loads a string resource; false (and empty text) when there is none.
    bool LoadString(int id);

    const std::string& str() const { return m_s; }
    const char* c_str() const { return m_s.c_str(); }
    operator const char*() const { return m_s.c_str(); }  // NOLINT: the framework's LPCTSTR

    CString& operator+=(const CString& other) {
        m_s += other.m_s;
        return *this;
    }
    CString& operator+=(char ch) {
        m_s += ch;
        return *this;
    }
    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_s + b.m_s); }
    friend CString operator+(const CString& a, const char* b) { return CString(a.m_s + b); }
    friend CString operator+(const char* a, const CString& b) { return CString(a + b.m_s); }
    // Byte-by-byte, case-sensitive.
    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CString& a, const char* b) { return a.m_s == b; }

  private:
    std::string m_s;
};
