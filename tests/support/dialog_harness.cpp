#include "support/dialog_harness.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "app/CrisisApp.h"
#include "support/test_files.h"

namespace dialogtest {

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : m_name(std::move(name)) {
    if (const char* old = std::getenv(m_name.c_str())) m_old = old;
    fattools::setEnvironment(m_name, value);
}

ScopedEnv::~ScopedEnv() {
    fattools::setEnvironment(m_name, m_old);
}

std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, std::string_view bytes) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

void DialogHarness::SetUp() {
    // Under /tmp rather than $TMPDIR: the start directory must stay within 127 characters.
#ifdef _WIN32
    const std::string base = fs::temp_directory_path().string();
#else
    const std::string base = "/tmp";
#endif
    m_root = fattools::newFolder(base, "quenvol-dlg-");
    ASSERT_FALSE(m_root.empty());
    fs::create_directories(startDir());
    fs::create_directories(projectDir());
    fs::create_directories(settingsDir());
    m_oldCwd = fs::current_path();
    fs::current_path(startDir());
#ifdef _WIN32
    m_config.emplace("windir", settingsDir().string());  // the Windows directory, read each time
#else
    m_config.emplace("XDG_CONFIG_HOME", settingsDir().string());
#endif
    m_drive.emplace("QUENVOL_DRIVE_A", driveImage().string());
    m_backend = std::make_unique<console::ConsoleBackend>(m_policy);
    AfxSetBackend(m_backend.get());
    theApp.SetStartupInfo("quenvol", "", QUENVOL_SOURCE_DIR "/src/res/quenvol.HLP");
}

void DialogHarness::TearDown() {
    destroyDialog();
    AfxSetBackend(nullptr);
    m_backend.reset();
    m_drive.reset();
    m_config.reset();
    std::error_code ignored;
    fs::current_path(m_oldCwd, ignored);
    // Tests may take permissions away to provoke failures; give them back to clean up.
    for (auto it = fs::recursive_directory_iterator(m_root, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::permissions(m_root, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(m_root, ignored);
}

CCrisisDlg& DialogHarness::createDialog(const std::string& cmdLine) {
    destroyDialog();
    theApp.SetStartupInfo("quenvol", cmdLine, QUENVOL_SOURCE_DIR "/src/res/quenvol.HLP");
    m_dialog = std::make_unique<CCrisisDlg>();
    theApp.m_pMainWnd = m_dialog.get();
    m_dialog->SetCmdLine(CString(theApp.m_lpCmdLine));
    EXPECT_TRUE(m_dialog->Create()) << "the main dialog's template is missing";
    return *m_dialog;
}

void DialogHarness::destroyDialog() {
    if (theApp.m_pMainWnd == m_dialog.get()) theApp.m_pMainWnd = nullptr;
    m_dialog.reset();
}

HWND DialogHarness::control(int id) const {
    HWND found = m_dialog ? afx::findControl(m_dialog->m_hWnd, id) : nullptr;
    EXPECT_NE(found, nullptr) << "no control " << id;
    return found;
}

void DialogHarness::click(int id) {
    if (HWND w = control(id)) afx::userClick(w);
}

void DialogHarness::pressKey(afx::Key key) {
    if (m_dialog) afx::userKey(*m_dialog, key);
}

void DialogHarness::typeText(int id, const std::string& text) {
    if (HWND w = control(id)) afx::userSetText(w, text);
}

std::vector<std::string> DialogHarness::comboItems(int id) const {
    HWND w = control(id);
    return w ? w->items : std::vector<std::string>{};
}

std::string DialogHarness::comboText(int id) const {
    HWND w = control(id);
    return w ? w->text : std::string();
}

bool DialogHarness::dialogDestroyed() const {
    return m_dialog && m_dialog->m_hWnd && m_dialog->m_hWnd->destroyed;
}

bool DialogHarness::dialogEnded() const {
    return m_dialog && m_dialog->m_hWnd && m_dialog->m_hWnd->ended;
}

}  // namespace dialogtest
