// A fixture for behaviour tests of the main dialog on the console backend.
//
// Each test gets a fresh scratch root (short enough for the dialog's 127-character start
// directory) holding:
//   <root>/start    the start directory, current for the whole test
//   <root>/project  an empty project folder
//   <root>/config   the Windows directory ($XDG_CONFIG_HOME), where quenvol.ini lives
//   <root>/a.img    drive A: ($QUENVOL_DRIVE_A); absent, that is no diskette, until a test
//                   creates it
// A console::ConsoleBackend with a console::ScriptedPolicy is installed, and the application
// object carries the name "quenvol", the test's command line and the help file from the
// source tree. Everything (current directory, environment, backend, main window) is put
// back afterwards and the root removed.
//
//   TEST_F(DialogHarness, CloseSavesTheCommandLinePath) {
//       createDialog("/work/p1");
//       click(IDC_BUTTON_CLOSE);
//       EXPECT_EQ(readFile(settingsFile()), "\r\n\r\n\r\n/work/p1\r\n");
//   }
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/CrisisDlg.h"
#include "framework/input.h"
#include "support/scripted_policy.h"
#include "ui/console/console_backend.h"

namespace dialogtest {

namespace fs = std::filesystem;

// Sets (or with nullopt unsets) an environment variable for the object's lifetime.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// A file's bytes as a string (CR, LF and NUL included), or nullopt when it cannot be read.
std::optional<std::string> readFile(const fs::path& path);
// Creates or replaces a file with exactly these bytes; creates missing folders.
void writeFile(const fs::path& path, std::string_view bytes);

class DialogHarness : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    const fs::path& root() const { return m_root; }
    fs::path startDir() const { return m_root / "start"; }
    fs::path projectDir() const { return m_root / "project"; }
    fs::path settingsDir() const { return m_root / "config"; }
    fs::path settingsFile() const { return settingsDir() / "quenvol.ini"; }
    fs::path driveImage() const { return m_root / "a.img"; }

    console::ScriptedPolicy& policy() { return m_policy; }
    console::ConsoleBackend& backend() { return *m_backend; }

    // Makes a new main dialog as the program's start-up does (command-line text, main
    // window) and creates it, which runs OnInitDialog without a modal loop. A dialog made
    // before is destroyed first, as when the program is started again.
    CCrisisDlg& createDialog(const std::string& cmdLine = "");
    CCrisisDlg& dialog() { return *m_dialog; }
    // Destroys the dialog object (the program has ended).
    void destroyDialog();

    // A control of the dialog by id; fails the test when there is none.
    HWND control(int id) const;
    // User input through the dialog manager's rules.
    void click(int id);
    void pressKey(afx::Key key);
    void typeText(int id, const std::string& text);

    // The combo box's list items, in order, and its edit text.
    std::vector<std::string> comboItems(int id = IDC_COMBO_PATH) const;
    std::string comboText(int id = IDC_COMBO_PATH) const;

    // The dialog's window is gone (Close) or it has ended (Cancel).
    bool dialogDestroyed() const;
    bool dialogEnded() const;

  private:
    fs::path m_root;
    fs::path m_oldCwd;
    std::optional<ScopedEnv> m_config;
    std::optional<ScopedEnv> m_state;  // the build log's folder: the test's own
    std::optional<ScopedEnv> m_drive;
    console::ScriptedPolicy m_policy;
    std::unique_ptr<console::ConsoleBackend> m_backend;
    std::unique_ptr<CCrisisDlg> m_dialog;
};

}  // namespace dialogtest
