// The Win32 backend with the system's own windows, under a display: each template's controls
// where the template puts them, their enabling as the framework says, and a whole build of
// the sample driven through the real main dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <utility>

#include "app/CrisisApp.h"
#include "app/CrisisDlg.h"
#include "app/messages.h"
#include "framework/kit_folder.h"
#include "framework/shell.h"
#include "gui_win32/robot.h"
#include "history/DirDlg.h"
#include "platform/floppy_drives.h"
#include "support/fat_tools.h"
#include "support/test_files.h"
#include "ui/win32/win32_backend.h"

namespace {

namespace fs = std::filesystem;
using win32ui::Win32Backend;

constexpr char kHelpFile[] = QUENVOL_SOURCE_DIR "/src/res/quenvol.HLP";

class Win32DialogTest : public ::testing::Test {
  protected:
    void SetUp() override { theApp.SetStartupInfo("quenvol", "", kHelpFile); }
    void TearDown() override { robot::stopTicking(); }

    Win32Backend m_backend;
    ScopedBackend m_installed{&m_backend};
};

class TemplateTest : public Win32DialogTest, public ::testing::WithParamInterface<int> {};

// How much of a control's rectangle the system keeps as its template gives it: a combo box is
// as high as its field, a list box a whole number of lines, an icon control its icon's size.
enum class Kept { All, TopAndWidth, TopLeft };

Kept keptOf(res::ControlKind kind) {
    switch (kind) {
        case res::ControlKind::ComboBox:
        case res::ControlKind::ListBox:
            return Kept::TopAndWidth;
        case res::ControlKind::StaticIcon:
            return Kept::TopLeft;
        default:
            return Kept::All;
    }
}

TEST_P(TemplateTest, ControlsStandWhereTheTemplatePutsThemAndFollowTheFrameworksEnabling) {
    const res::DialogTemplate* t = res::findDialogTemplate(GetParam());
    ASSERT_NE(t, nullptr);
    CDialog dialog(GetParam());
    bool checked = false;
    robot::startTicking([&] {
        void* window = Win32Backend::windowOf(dialog.m_hWnd);
        if (checked || !window || !robot::isVisible(window)) return;
        checked = true;
        const auto& children = dialog.m_hWnd->children;
        ASSERT_EQ(children.size(), t->controls.size());
        for (std::size_t i = 0; i < children.size(); ++i) {
            const res::ControlTemplate& c = t->controls[i];
            SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(c.id) + ")");
            void* control = Win32Backend::windowOf(children[i].get());
            ASSERT_NE(control, nullptr);
            const win32ui::Rect got = win32ui::rectInDialog(control);
            const win32ui::Rect want = win32ui::dialogUnitsToPixels(window, c.x, c.y, c.cx, c.cy);
            EXPECT_EQ(got.left, want.left);
            EXPECT_EQ(got.top, want.top);
            if (keptOf(c.kind) != Kept::TopLeft) {
                EXPECT_EQ(got.right, want.right);
            }
            if (keptOf(c.kind) == Kept::All) {
                EXPECT_EQ(got.bottom, want.bottom);
            }
            // Enabled as the template says, then as the framework says.
            const bool enabled = (c.style & res::kWsDisabled) == 0;
            EXPECT_EQ(win32ui::isEnabled(control), enabled);
            CWnd* wnd = CWnd::FromHandle(children[i].get());
            wnd->EnableWindow(!enabled);
            EXPECT_EQ(win32ui::isEnabled(control), !enabled);
            wnd->EnableWindow(enabled);
            EXPECT_EQ(win32ui::isEnabled(control), enabled);
        }
        dialog.EndDialog(IDOK);
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_TRUE(checked) << "the dialog never showed";
}

INSTANTIATE_TEST_SUITE_P(Templates, TemplateTest,
                         ::testing::Values(res::kIddAboutBox, res::kIddCrisisDialog,
                                           res::kIddChooseDirectory, res::kIddFormatDrive));

TEST_F(Win32DialogTest, FolderChooserIsTheSystemsSaveDialogLaidOutByTemplate129) {
    fattools::TempDir root;
    ASSERT_FALSE(root.path().empty());
    const res::DialogTemplate* t = res::findDialogTemplate(res::kIddChooseDirectory);
    CDirDlg chooser(FALSE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, nullptr,
                    nullptr);
    chooser.m_ofn.lpstrInitialDir = root.path().c_str();
    std::string field, caption;
    robot::startTicking([&] {
        const auto box = robot::shownMessageBox();
        if (!box || !caption.empty()) return;
        caption = win32ui::textOf(box->window);
        // The system's controls, found by their fixed ids, where the template puts them.
        for (const res::ControlTemplate& c : t->controls) {
            if (c.id == -1) continue;
            SCOPED_TRACE("control " + std::to_string(c.id));
            void* control = robot::controlById(box->window, c.id);
            ASSERT_NE(control, nullptr);
            const win32ui::Rect got = win32ui::rectInDialog(control);
            const win32ui::Rect want =
                win32ui::dialogUnitsToPixels(box->window, c.x, c.y, c.cx, c.cy);
            EXPECT_EQ(got.left, want.left);
            EXPECT_EQ(got.top, want.top);
        }
        field = win32ui::textOf(robot::controlById(box->window, 1152));
        robot::answer(*box, IDOK);
    });
    const fs::path previous = fs::current_path();
    EXPECT_EQ(chooser.DoModal(), IDOK);
    // The chooser may leave the current folder where the user browsed.
    fs::current_path(previous);
    EXPECT_EQ(caption, t->caption);
    EXPECT_EQ(field, kChooserDummyName);
    EXPECT_STREQ(chooser.m_ofn.lpstrFile + chooser.m_ofn.nFileOffset, kChooserDummyName);
    EXPECT_FALSE(FolderOfChosenFile(chooser.m_ofn).IsEmpty());
}

void copyFolder(const fs::path& from, const fs::path& to) {
    fs::create_directories(to);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

// The entry of that name, or of that name and what it names after it ("&Drive A: (a.img)").
const robot::MenuItem* entryNamed(const std::vector<robot::MenuItem>& items,
                                  const std::string& text) {
    const auto found = std::find_if(items.begin(), items.end(), [&](const robot::MenuItem& item) {
        return item.text == text || item.text.starts_with(text + " (");
    });
    return found == items.end() ? nullptr : &*found;
}

// The main window's system menu as the user opens it and chooses, with the mouse and with the
// keyboard: About; Drive A: with drive A: marked and a diskette image file to choose instead,
// which is drive A: from then on or is refused in words. The submenu is closed while the
// program is at work. Every command comes from an entry the user's menu highlighted.
TEST_F(Win32DialogTest, SystemMenuEntriesWorkChosenByMouseAndByKeyboard) {
    fattools::TempDir root;
    ASSERT_FALSE(root.path().empty());
    const std::string fromEnvironment = root.file("environment.img");  // never made
    const std::string fresh = root.file("rescue.img");
    const std::string tooBig = root.file("ten.img");
    {
        std::ofstream big(tooBig, std::ios::binary);
        big.seekp(10 * 1024 * 1024 - 1);
        big.put('\0');
    }
    fattools::setEnvironment("QUENVOL_DRIVE_A", fromEnvironment);
    enum class Effect { About, Chooser, Drive };
    struct Way {
        bool mouse;
        std::vector<std::string> entries;
        Effect effect;
        std::string file;  // what the chooser is given
    };
    const std::string kImage = "Diskette &image file...";
    const std::vector<Way> ways = {
        {true, {"&About Quenvol..."}, Effect::About, ""},
        {false, {"&About Quenvol..."}, Effect::About, ""},
        {true, {"&Drive A:", kImage}, Effect::Chooser, fresh},
        {false, {"&Drive A:", kImage}, Effect::Chooser, tooBig},
        // The drive that is drive A: chosen from the list: the choice holds for the run.
        {true,
         {"&Drive A:", fromEnvironment + " (QUENVOL_DRIVE_A)"},
         Effect::Drive,
         fromEnvironment},
    };

    CCrisisDlg dialog;
    theApp.m_pMainWnd = &dialog;
    std::vector<std::string> marked;  // the marked entry before each way and at the end
    std::vector<std::string> refusals;
    std::string afterImages;
    std::vector<int> effects(ways.size(), 0);
    bool closedAtWork = false, looked = false;
    std::size_t way = 0, entry = 0, waited = 0, opened = 0, tries = 0;
    // The marked entry of the Drive A: submenu, or "" when none or the submenu is closed.
    auto markedNow = [&](void* window) {
        const auto menu = robot::systemMenu(window);
        const robot::MenuItem* drives = entryNamed(menu, "&Drive A:");
        if (!drives || !drives->enabled) return std::string();
        for (const robot::MenuItem& item : drives->submenu)
            if (item.checked) return item.text;
        return std::string();
    };
    robot::watchMenuCommands();
    robot::startTicking([&] {
        void* window = Win32Backend::windowOf(dialog.m_hWnd);
        if (!window || !robot::isVisible(window)) return;
        if (const auto box = robot::shownMessageBox()) {
            if (win32ui::textOf(box->window) == "Diskette image file for drive A:") {
                // A chooser that never takes the name would hold the test to its time-out.
                if (++effects[way] > 3) {
                    ADD_FAILURE() << "the chooser does not take " << ways[way].file;
                    robot::answer(*box, IDCANCEL);
                    return;
                }
                robot::chooseFile(*box, ways[way].file);
            } else {
                refusals.push_back(box->text);
                robot::answer(*box, IDOK);
            }
            return;
        }
        void* shown = win32ui::activeDialog();
        if (shown && shown != window && robot::isVisible(shown)) {  // the About box
            // Closed once: a second Escape, sent before the box is gone, would reach the
            // main dialog and end it.
            if (effects[way]++ > 0) return;
            if (ways[way].mouse)
                robot::click(robot::controlById(shown, IDOK));
            else
                robot::pressKey(robot::Key::Escape);
            return;
        }
        if (robot::menuShown()) {
            if (entry < ways[way].entries.size() &&
                robot::chooseMenuEntry(ways[way].entries[entry], ways[way].mouse))
                ++entry;
            else if (++waited > 40)
                robot::endMenus();
            return;
        }
        if (shown != window) return;
        if (!looked) {
            looked = true;
            dialog.EnableControls(FALSE);  // as a build does from its format to its end
            closedAtWork = markedNow(window).empty();
            dialog.EnableControls(TRUE);
        }
        if (way < ways.size() && entry == ways[way].entries.size() &&
            ways[way].effect == Effect::Drive &&
            platform::driveASelection().chosenThisRun == ways[way].file)
            ++effects[way];
        if (way < ways.size() && entry == ways[way].entries.size() && effects[way] == 0 &&
            ++waited > 60 && ++tries < 3) {
            // Three seconds without its window: under load wine can lose a click on an entry
            // (no command arrives), so the way is taken again from the start, twice at most.
            entry = opened = 0;
        }
        if (way < ways.size() && entry == ways[way].entries.size() &&
            (effects[way] > 0 || waited > 60)) {
            ++way;  // done, or given up
            entry = opened = tries = 0;
        }
        if (way == ways.size()) {
            marked.push_back(markedNow(window));
            robot::click(Win32Backend::windowOf(dialog.GetDlgItem(IDC_BUTTON_CLOSE)->m_hWnd));
            way = ways.size() + 1;
        } else if (way < ways.size() && entry == 0) {
            waited = 0;
            if (++opened > 20) {
                ADD_FAILURE() << "the system menu does not open"
                              << (ways[way].mouse ? " by mouse" : " by keyboard");
                ++way;
                opened = 0;
                return;
            }
            if (opened == 1 && tries == 0) marked.push_back(markedNow(window));
            if (opened == 1 && tries == 0 && ways[way].effect == Effect::Drive) {
                // What the images made drive A:, then the run's choice forgotten, so that the
                // list offers the drive QUENVOL_DRIVE_A names.
                afterImages = platform::driveASelection().chosenThisRun;
                platform::setDriveASelection({});
            }
            robot::openSystemMenu(window, ways[way].mouse);
        }
    });
    dialog.DoModal();
    robot::stopTicking();
    theApp.m_pMainWnd = nullptr;
    fattools::setEnvironment("QUENVOL_DRIVE_A", std::nullopt);
    const platform::DriveASelection selection = platform::driveASelection();
    platform::setDriveASelection({});

    for (std::size_t i = 0; i < ways.size(); ++i)
        EXPECT_GT(effects[i], 0) << ways[i].entries.back()
                                 << (ways[i].mouse ? " by mouse" : " by keyboard");
    const auto commands = robot::menuCommandsSeen();
    EXPECT_GE(commands.size(), ways.size());
    for (const robot::MenuCommand& command : commands)
        EXPECT_TRUE(command.throughMenu) << "command " << command.id << " not from the menu";
    EXPECT_TRUE(closedAtWork);
    // Before each way, and at the end.
    ASSERT_EQ(marked.size(), ways.size() + 1);
    EXPECT_EQ(marked[2], fromEnvironment + " (QUENVOL_DRIVE_A)");
    std::error_code error;
    EXPECT_EQ(fs::file_size(fresh, error), 1474560u);
    EXPECT_TRUE(fs::equivalent(afterImages, fresh, error)) << afterImages;
    EXPECT_EQ(selection.chosenThisRun, fromEnvironment);
    // The refused file leaves drive A: as it was, and the file as it was.
    ASSERT_EQ(refusals.size(), 1u) << ::testing::PrintToString(refusals);
    EXPECT_TRUE(refusals[0].ends_with("Drive A: stays as it was.")) << refusals[0];
    EXPECT_EQ(marked[3], marked[4]);
    EXPECT_EQ(marked[5], fromEnvironment);  // chosen in the list: no longer by the variable
    EXPECT_EQ(fs::file_size(tooBig), 10u * 1024 * 1024);
    EXPECT_FALSE(fs::exists(fromEnvironment));
}

// Started where no kit is, the dialog says so and offers the kit folder; the chooser opens at
// the installed sample, which cannot be written, so the dialog offers to copy it to a folder
// of the user's and the copy is the start directory. "Kit folder..." in the system menu opens
// the chooser again; cancelled, nothing changes.
TEST_F(Win32DialogTest, KitNoticeAtStartAndKitFolderEntryCopyAKitThatCannotBeWritten) {
    fattools::TempDir root;
    ASSERT_FALSE(root.path().empty());
    const fs::path empty = fs::path(root.path()) / "empty",
                   sample = fs::path(root.path()) / "sample", mine = fs::path(root.path()) / "mine";
    fs::create_directories(empty);
    fs::create_directories(mine);
    copyFolder(QUENVOL_SAMPLE_KIT_DIR, sample);
    const fs::path previous = fs::current_path();
    fs::current_path(empty);
    CCrisisDlg dialog;
    theApp.m_pMainWnd = &dialog;
    kitfolder::setAccess({
        [&dialog] { return std::string(dialog.m_szStartDir); },
        [](const std::string& folder) {
            const auto gaps = CCrisisDlg::MissingKit(folder);
            return std::pair{gaps.minidos, gaps.flashUtility};
        },
        [&dialog](const std::string& folder) { return dialog.UseStartDir(folder) != FALSE; },
        [&sample](const std::string& folder) { return !fs::equivalent(folder, sample); },
        [&sample] { return sample.string(); },
        [&mine] { return mine.string(); },
    });
    // What each box says, and the answer: the choosers take the folder they open at.
    const std::vector<std::pair<std::string, int>> script = {
        {"The start directory " + empty.string() +
             " holds no kit: minidos.sys and a flash "
             "utility (zyplet.exe or zyplet16.exe) are missing.",
         IDYES},
        {kitfolder::kChooserTitle, IDOK},
        {"The folder " + sample.string() + " holds a kit, but it cannot be written", IDYES},
        {kitfolder::kCopyChooserTitle, IDOK},
        {"The kit was copied to", IDOK},
        {kitfolder::kChooserTitle, IDCANCEL},
    };
    std::vector<std::string> shown;
    std::string afterCopy;
    bool menuOpened = false, closed = false;
    int idle = 0;
    robot::watchMenuCommands();
    robot::startTicking([&] {
        void* window = Win32Backend::windowOf(dialog.m_hWnd);
        if (!window || !robot::isVisible(window)) return;
        if (const auto box = robot::shownMessageBox()) {
            // A chooser is answered once it shows the folder it opens at selected (the system
            // fills its tree in its own time: up to thirty seconds here, on a loaded machine).
            const std::size_t next = shown.size();
            const std::string opensAt = next == 1 ? "sample" : next == 3 ? "mine" : "";
            if (!opensAt.empty() && robot::chosenFolderName(*box) != opensAt && ++idle < 600)
                return;
            shown.push_back(box->text);
            idle = 0;
            const std::size_t at = shown.size() - 1;
            const bool expected = at < script.size() && box->text.starts_with(script[at].first);
            if (!expected || !robot::answer(*box, script[at].second))
                robot::answer(*box, IDCANCEL) || robot::answer(*box, IDNO) ||
                    robot::answer(*box, IDOK);
            return;
        }
        if (robot::menuShown()) {
            robot::chooseMenuEntry("&Kit folder...", false);
            return;
        }
        if (win32ui::activeDialog() != window || closed) return;
        if (!menuOpened && shown.size() == 5) {
            menuOpened = true;
            afterCopy = dialog.m_szStartDir;
            robot::openSystemMenu(window, false);
        } else if (shown.size() == script.size() || ++idle > 40) {
            closed = true;  // done, or two seconds with nothing asked
            robot::click(Win32Backend::windowOf(dialog.GetDlgItem(IDC_BUTTON_CLOSE)->m_hWnd));
        }
    });
    dialog.DoModal();
    robot::stopTicking();
    theApp.m_pMainWnd = nullptr;
    kitfolder::setAccess({});
    const std::string startDir = dialog.m_szStartDir;
    fs::current_path(previous);

    ASSERT_EQ(shown.size(), script.size()) << ::testing::PrintToString(shown);
    for (std::size_t i = 0; i < script.size(); ++i)
        EXPECT_TRUE(shown[i].starts_with(script[i].first)) << shown[i];
    const fs::path copy = mine / kitfolder::kCopyFolderName;
    EXPECT_EQ(afterCopy, copy.string());
    EXPECT_EQ(startDir, copy.string());  // the cancelled chooser changed nothing
    for (const auto& file : fs::directory_iterator(sample))
        EXPECT_EQ(fattools::readBytes((copy / file.path().filename()).string()),
                  fattools::readBytes(file.path().string()))
            << file.path().filename();
    for (const robot::MenuCommand& command : robot::menuCommandsSeen())
        EXPECT_TRUE(command.throughMenu) << "command " << command.id << " not from the menu";
}

// Context help as the keyboard and the mouse ask for it: F1 on the focused control, Shift+F1
// (the keyboard's way to the caption's help button) or that button, then a click, and a right
// click with its "What's This?". Each shows the control's topic from the help file.
TEST_F(Win32DialogTest, ContextHelpShowsTheControlsTopicHoweverItIsAsked) {
    constexpr const char* kCloseTopic =
        "Close\n\nSaves the list of recent project folders and ends the program.";
    constexpr const char* kStartTopic =
        "Start\n\nRuns the chosen action: checks the diskette and the project folder, formats "
        "the diskette, copies the files and, for a MINIDOS disk, writes the boot sector.";
    CCrisisDlg dialog;
    theApp.m_pMainWnd = &dialog;
    auto control = [&dialog](int id) {
        return Win32Backend::windowOf(dialog.GetDlgItem(id)->m_hWnd);
    };
    using Action = std::function<void()>;
    struct Way {
        std::string name;
        std::vector<Action> steps;  // one a tick
        std::string topic;
    };
    const std::vector<Way> ways = {
        {"F1", {[] { robot::pressKey(robot::Key::F1); }}, kCloseTopic},
        {"Shift+F1 and a click",
         {[] { robot::pressKey(robot::Key::F1, true); },
          [&] { robot::mouseClick(control(IDC_START)); }},
         kStartTopic},
        {"the caption's help button and a click",
         {[&] { robot::clickHelpButton(Win32Backend::windowOf(dialog.m_hWnd)); },
          [&] { robot::mouseClick(control(IDC_BUTTON_CLOSE)); }},
         kCloseTopic},
        {"right click", {[&] { robot::mouseClick(control(IDC_START), true); }}, kStartTopic},
        // The longest topic: its last line was the one cut short.
        {"the caption's help button and a click on the disabled project path",
         {[&] { robot::clickHelpButton(Win32Backend::windowOf(dialog.m_hWnd)); },
          [&] { robot::mouseClick(control(IDC_COMBO_PATH)); }},
         "Project Path\n\nThe folder that holds the output of one BIOS build: the part-number "
         "file partnum.mak, platform.bin and the BIOS images named by part number. Type it here "
         "or pick a recent one from the list. It can be changed after a Start has found no BIOS "
         "files in the start directory."},
    };
    std::vector<std::string> shown(ways.size());
    std::vector<bool> fits(ways.size()), focusBack(ways.size());
    std::size_t way = 0, step = 0, waited = 0;
    bool closing = false;
    robot::startTicking([&] {
        void* window = Win32Backend::windowOf(dialog.m_hWnd);
        if (!window || !robot::isVisible(window)) return;
        if (robot::menuShown()) {  // the help menu of a right click
            robot::pressKey(robot::Key::Down);
            robot::pressKey(robot::Key::Return);
            return;
        }
        if (way == ways.size()) {
            robot::click(control(IDC_BUTTON_CLOSE));
            return;
        }
        if (const auto topic = robot::helpTopicShown()) {
            // Read, then closed as the user does: by a key, or by a click on it.
            shown[way] = topic->text;
            fits[way] = topic->fits;
            closing = true;
            if (way % 2 == 0)
                robot::pressKey(robot::Key::Escape);
            else
                robot::clickHelpTopic();
            return;
        }
        if (closing) {
            // Nothing moved the focus: it is back on Close, where the dialog put it.
            closing = false;
            focusBack[way] = robot::focusedWindow() == control(IDC_BUTTON_CLOSE);
        } else if (step < ways[way].steps.size()) {
            ways[way].steps[step++]();
            return;
        } else if (++waited < 40) {
            return;  // two seconds for the topic
        }
        ++way;
        step = waited = 0;
    });
    dialog.DoModal();
    robot::stopTicking();
    theApp.m_pMainWnd = nullptr;
    for (std::size_t i = 0; i < ways.size(); ++i) {
        EXPECT_EQ(shown[i], ways[i].topic) << ways[i].name;
        EXPECT_TRUE(fits[i]) << ways[i].name << ": the topic's last line is cut";
        EXPECT_TRUE(focusBack[i]) << ways[i].name << ": the focus is not back on Close";
    }
    // The clicks asked for help: none pressed Start.
    EXPECT_TRUE(dialog.GetDlgItem(IDC_START)->IsWindowEnabled());
}

// The format dialog refuses in words and leaves drive A: as it was: a file too big to be a
// diskette, an empty drive, and a label the file system does not take.
TEST_F(Win32DialogTest, FormatDialogRefusalsAreSaidAndEraseNothing) {
    fattools::TempDir root;
    ASSERT_FALSE(root.path().empty());
    const std::string image = root.file("a.img");
    struct Case {
        std::uintmax_t bytes;  // 0: no file
        std::string label;
        std::string capacity;
        std::string refusal;  // how the box's text starts
    };
    const std::vector<Case> cases = {
        {10 * 1024 * 1024, "", "Not a diskette",
         "Drive A: does not hold a diskette, so nothing was formatted."},
        {0, "", "No diskette", "There is no diskette in drive A:."},
        {1474560, "A*B", "3.5\", 1.44MB, 512 bytes/sector", "The volume label is not valid"},
    };
    fattools::setEnvironment("QUENVOL_DRIVE_A", image);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refusal);
        fs::remove(image);
        std::vector<std::uint8_t> original;
        if (c.bytes) {
            original.resize(c.bytes);
            for (std::size_t i = 0; i < original.size(); ++i)
                original[i] = static_cast<std::uint8_t>(i * 7 + i / 512);
            std::ofstream(image, std::ios::binary)
                .write(reinterpret_cast<const char*>(original.data()),
                       static_cast<std::streamsize>(original.size()));
        }
        std::string capacity;
        std::vector<std::string> boxes;
        bool started = false;
        robot::startTicking([&] {
            if (const auto box = robot::shownMessageBox()) {
                // The warning before erasing is answered as a user who means it would.
                if (box->text.starts_with("Formatting erases everything")) {
                    robot::answer(*box, IDOK);
                    return;
                }
                boxes.push_back(box->text);
                robot::answer(*box, IDOK);
                return;
            }
            void* shown = win32ui::activeDialog();
            if (!shown || !robot::isVisible(shown)) return;
            if (!started) {
                started = true;
                capacity = win32ui::textOf(robot::controlById(shown, res::kIdcFormatCapacity));
                robot::type(robot::controlById(shown, res::kIdcFormatLabel), c.label);
                robot::click(robot::controlById(shown, res::kIdcFormatStart));
            } else if (!boxes.empty()) {
                robot::click(robot::controlById(shown, IDCANCEL));
            }
        });
        SHFormatDrive(nullptr, 0, SHFMT_ID_DEFAULT, 0);
        robot::stopTicking();
        EXPECT_EQ(capacity, c.capacity);
        ASSERT_EQ(boxes.size(), 1u) << ::testing::PrintToString(boxes);
        EXPECT_TRUE(boxes[0].starts_with(c.refusal)) << boxes[0];
        if (c.bytes) {
            EXPECT_EQ(fattools::readBytes(image), original);
        } else {
            EXPECT_FALSE(fs::exists(image));
        }
    }
    fattools::setEnvironment("QUENVOL_DRIVE_A", std::nullopt);
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// What the user answers to each message box of a build, by the box's text.
struct Answer {
    std::string text;
    int button;
};

TEST_F(Win32DialogTest, MinidosBuildThroughTheRealDialogEndsWithSuccessAndAGoodDiskette) {
    fattools::TempDir root;
    ASSERT_FALSE(root.path().empty());
    const fs::path kit = fs::path(root.path()) / "kit";
    const fs::path project = fs::path(root.path()) / "project";
    copyFolder(QUENVOL_SAMPLE_KIT_DIR, kit);
    copyFolder(QUENVOL_SAMPLE_PROJECT_DIR, project);
    const std::string image = root.file("a.img");
    {
        std::ofstream blank(image, std::ios::binary);
        blank.seekp(1474560 - 1);
        blank.put('\0');
    }
    const fs::path previous = fs::current_path();
    fs::current_path(kit);
    fattools::setEnvironment("QUENVOL_DRIVE_A", image);
    fattools::setEnvironment("XDG_CONFIG_HOME", root.path());
    theApp.SetStartupInfo("quenvol", project.string(), kHelpFile);

    CCrisisDlg dialog;
    dialog.SetCmdLine(CString(theApp.m_lpCmdLine));
    theApp.m_pMainWnd = &dialog;
    // The build formats the diskette through the format dialog first.
    const std::vector<Answer> script = {
        {texts::confirmProject(project.string()), IDYES},
        {"Formatting erases everything on the diskette in drive A:.", IDOK},
        {"Format Complete.", IDOK},
        {texts::kSucceeded, IDOK},
        {texts::kAnotherDiskette, IDNO},
    };
    std::vector<std::string> asked;
    bool started = false, formatStarted = false;
    robot::startTicking([&] {
        if (const auto box = robot::shownMessageBox()) {
            asked.push_back(box->text);
            const std::size_t at = asked.size() - 1;
            const bool expected = at < script.size() && box->text.starts_with(script[at].text);
            if (!expected || !robot::answer(*box, script[at].button))
                robot::answer(*box, IDCANCEL) || robot::answer(*box, IDNO) ||
                    robot::answer(*box, IDOK);
            return;
        }
        void* window = Win32Backend::windowOf(dialog.m_hWnd);
        void* shown = win32ui::activeDialog();
        if (!window || !shown || !robot::isVisible(shown)) return;
        if (shown != window) {
            // The format dialog: Start once, Close when its format has been reported.
            void* start = robot::controlById(shown, res::kIdcFormatStart);
            if (!formatStarted) {
                formatStarted = true;
                robot::click(start);
            } else if (win32ui::isEnabled(start)) {
                robot::click(robot::controlById(shown, IDCANCEL));
            }
            return;
        }
        CWnd* start = dialog.GetDlgItem(IDC_START);
        if (!started) {
            started = true;
            robot::click(Win32Backend::windowOf(start->m_hWnd));
        } else if (start->IsWindowEnabled()) {
            // Start is back and nothing asks: the build is over.
            robot::click(Win32Backend::windowOf(dialog.GetDlgItem(IDC_BUTTON_CLOSE)->m_hWnd));
        }
    });
    dialog.DoModal();
    robot::stopTicking();
    theApp.m_pMainWnd = nullptr;
    fs::current_path(previous);
    fattools::setEnvironment("QUENVOL_DRIVE_A", std::nullopt);
    fattools::setEnvironment("XDG_CONFIG_HOME", std::nullopt);

    ASSERT_EQ(asked.size(), script.size()) << "asked: " << ::testing::PrintToString(asked);
    for (std::size_t i = 0; i < script.size(); ++i)
        EXPECT_TRUE(asked[i].starts_with(script[i].text)) << asked[i];
    const fattools::FsckResult fsck = fattools::runFsck(image);
    EXPECT_TRUE(fsck.clean) << fsck.output;
    const auto names = fattools::mdirNames(image);
    ASSERT_TRUE(names.has_value());
    for (const char* name : {"MINIDOS.SYS", "ZYPLET.EXE"})
        EXPECT_NE(std::find(names->begin(), names->end(), name), names->end()) << name;
    // Each file on the diskette under its source's name is its copy, byte for byte (the BIOS
    // images are renamed on the way).
    for (const std::string& name : *names) {
        std::optional<std::vector<std::uint8_t>> source;
        for (const fs::path& folder : {kit, project})
            for (const auto& entry : fs::directory_iterator(folder))
                if (upper(entry.path().filename().string()) == name)
                    source = fattools::readBytes(entry.path().string());
        if (source) {
            EXPECT_EQ(fattools::mtype(image, name), source) << name;
        }
    }
}

}  // namespace
