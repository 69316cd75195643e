// CFile: a file opened, used and closed within one operation, under a Windows name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/host_file.h"
#include "platform/winapi.h"

class CFile {
  public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareExclusive = 0x0010,
        modeCreate = 0x1000,
        typeBinary = 0x8000,
    };

    CFile() = default;
    ~CFile() = default;  // an open file is closed without a word
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens an existing file for reading, or with modeCreate creates (or empties) one for
    // writing. Returns FALSE when it cannot, and raises nothing.
    BOOL Open(const char* fileName, UINT openFlags);
    std::uint64_t GetLength() const;
    // The number of bytes read; 0 at the end or on an error.
    UINT Read(void* buffer, UINT count);
    // FALSE when the bytes could not all be written.
    BOOL Write(const void* buffer, UINT count);
    // FALSE when the file could not be closed cleanly.
    BOOL Close();
    bool IsOpen() const { return m_file.has_value(); }
    // Why the last call failed.
    const std::string& LastError() const { return m_error; }

  private:
    std::optional<platform::HostFile> m_file;
    std::string m_error;
};
