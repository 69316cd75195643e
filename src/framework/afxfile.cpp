#include "framework/afxfile.h"

BOOL CFile::Open(const char* fileName, UINT openFlags) {
    m_file.reset();
    auto opened = (openFlags & modeCreate) ? platform::HostFile::create(fileName ? fileName : "")
                                           : platform::HostFile::openRead(fileName ? fileName : "");
    if (!opened) {
        m_error = opened.message();
        return FALSE;
    }
    m_file.emplace(std::move(opened.value()));
    return TRUE;
}

std::uint64_t CFile::GetLength() const {
    if (!m_file) return 0;
    auto length = m_file->length();
    return length ? length.value() : 0;
}

UINT CFile::Read(void* buffer, UINT count) {
    if (!m_file) return 0;
    auto n = m_file->read(buffer, count);
    if (!n) {
        m_error = n.message();
        return 0;
    }
    return static_cast<UINT>(n.value());
}

BOOL CFile::Write(const void* buffer, UINT count) {
    if (!m_file) return FALSE;
    if (count == 0) return TRUE;
    auto status = m_file->write(buffer, count);
    if (!status) m_error = status.message();
    return status ? TRUE : FALSE;
}

BOOL CFile::Close() {
    if (!m_file) return FALSE;
    auto status = m_file->close();
    m_file.reset();
    if (!status) m_error = status.message();
    return status ? TRUE : FALSE;
}
