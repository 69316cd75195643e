// Builds driven end to end through the main dialog on the console backend: the sample kit as
// the start directory, a project folder, and a 1.44 MB image file as drive A:.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/messages.h"
#include "support/dialog_harness.h"
#include "ui/console/format_policy.h"

namespace buildtest {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

inline constexpr std::uint64_t kDisketteBytes = 1474560;
inline constexpr std::uint64_t kFreeWhenEmpty = 1457664;  // 2,847 clusters of 512 bytes

// What the status line and the progress bar showed, in order: "Copying x...@pos" for each
// status text (pos is m_nProgressPos at that moment), "bar=N" for each position set.
class RecordingBackend : public Backend {
  public:
    explicit RecordingBackend(console::ConsoleBackend& inner) : m_inner(inner) {}

    void runModal(CDialog& dialog) override { m_inner.runModal(dialog); }
    void endModal(CDialog& dialog) override { m_inner.endModal(dialog); }
    void stateChanged(HWND hwnd, StateChange what) override;
    int messageBox(HWND owner, const std::string& text, const std::string& caption,
                   UINT type) override;
    int messageBoxWithDetails(HWND owner, const std::string& text, const std::string& caption,
                              UINT type, const std::string& details) override {
        waitDepthAtMessage.push_back(m_inner.waitCursorDepth());
        return m_inner.messageBoxWithDetails(owner, text, caption, type, details);
    }
    void setWaitCursor(bool on) override { m_inner.setWaitCursor(on); }
    void showHelp(HWND c, const std::string& t, UINT cmd) override { m_inner.showHelp(c, t, cmd); }
    void formatDrive(HWND owner, UINT drive) override { m_inner.formatDrive(owner, drive); }
    INT_PTR runFileDialog(CFileDialog& dialog) override { return m_inner.runFileDialog(dialog); }
    void updateNow(HWND hwnd) override { m_inner.updateNow(hwnd); }
    void drawIcon(HWND hwnd, int x, int y, HICON i) override { m_inner.drawIcon(hwnd, x, y, i); }

    Strings events;
    std::vector<int> waitDepthAtMessage;  // the wait cursor's depth as each box was shown
    std::function<void(const std::string&)> onStatus;  // each text the status line takes

  private:
    console::ConsoleBackend& m_inner;
};

class BuildHarness : public dialogtest::DialogHarness {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The kit (minidos.sys, zyplet.exe, crisboot.bin) into the start directory.
    void useSampleKit();
    // The sample project (part number Q7A) into the project folder.
    void useSampleProject();
    // Both folders emptied and filled again from the samples, for a table's next case.
    void useFreshSamples();
    static fs::path sampleKit();
    static fs::path sampleProject();

    // Drive A: holds an unformatted 1.44 MB diskette that the format dialog formats.
    void blankDiskette();
    // Drive A: holds a formatted, empty diskette that the format dialog leaves as it is.
    void formattedDiskette();
    // Builds with the Start button from a new dialog whose command line is the project path.
    // `answers` go to the message boxes in order.
    void startBuild(int kind, std::vector<int> answers);

    Strings messageTexts();
    bool hasFocus(int id);
    bool controlEnabled(int id) const;

    // The diskette image passes fsck.fat -n and its free space is what its files leave.
    void expectConsistentDiskette();
    // The root directory holds exactly these files in this order, each byte for byte as the
    // host file given (names as mdir shows them).
    void expectDisketteFiles(const std::vector<std::pair<std::string, fs::path>>& files);
    Bytes sector0() const;

    static Bytes fileBytes(const fs::path& path);
    static Bytes patterned(std::size_t size, std::uint8_t seed);
    static void putBytes(const fs::path& path, const Bytes& bytes);

    RecordingBackend& recorder() { return *m_recorder; }

    console::FormatOutcome m_format;

  private:
    std::unique_ptr<RecordingBackend> m_recorder;
};

}  // namespace buildtest
