// A fresh directory for a test's files, on either system.
#pragma once

#include <string>

namespace fattools {

// A fresh directory, removed with its contents when the object goes. path() is empty where
// none could be made.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

}  // namespace fattools
