// Files of the host under Windows names (win_path.h), for the framework's CFile and for the
// copy call. Only regular files are ever opened; a folder or a device "cannot be opened".
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "platform/native_handle.h"

namespace platform {

class HostFile {
  public:
    // An existing regular file, for reading.
    static base::Result<HostFile> openRead(std::string_view windowsName);
    // Created, or emptied when it exists (under its existing spelling), for writing.
    static base::Result<HostFile> create(std::string_view windowsName);

    HostFile(HostFile&& other) noexcept;
    HostFile& operator=(HostFile&& other) noexcept;
    HostFile(const HostFile&) = delete;
    HostFile& operator=(const HostFile&) = delete;
    ~HostFile();

    bool isOpen() const { return m_handle.valid(); }
    const std::string& path() const { return m_path; }
    // The whole size in bytes; callers that keep 32 bits cut it themselves.
    base::Result<std::uint64_t> length() const;
    // Up to `bytes` bytes from the current position; 0 at the end.
    base::Result<std::size_t> read(void* out, std::size_t bytes);
    base::Status write(const void* in, std::size_t bytes);
    base::Status close();

  private:
    friend base::Status replaceFileAtomically(std::string_view, std::span<const std::uint8_t>);
    HostFile(NativeHandle handle, std::string path) : m_handle(handle), m_path(std::move(path)) {}
    NativeHandle m_handle;
    std::string m_path;
};

// The whole content of an existing regular file.
base::Result<std::vector<std::uint8_t>> readWholeFile(std::string_view windowsName);

// Replaces a file's content so that a crash leaves either the old or the new content: the
// bytes go to a temporary file in the same folder, which is synced and renamed over it.
// - A symbolic link stays: the file at the end of its links is replaced, in its own folder.
// - The new file keeps the old one's owner and permissions; a file made new gets 0644 less
//   the umask.
// - The temporary is locked until it is renamed; temporaries beside the file that no running
//   save holds were left by a save that was killed, and are removed first.
base::Status replaceFileAtomically(std::string_view windowsName,
                                   std::span<const std::uint8_t> content);

}  // namespace platform
