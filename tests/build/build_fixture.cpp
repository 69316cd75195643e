#include "build/build_fixture.h"

#include <fstream>
#include <iterator>

#include "fat/fat12.h"
#include "support/fat_tools.h"
#include "support/memory_device.h"

namespace buildtest {

void RecordingBackend::stateChanged(HWND hwnd, StateChange what) {
    m_inner.stateChanged(hwnd, what);
    if (onStatus && what == StateChange::Text && hwnd->id == IDC_EDIT_STATUS) onStatus(hwnd->text);
    auto* dialog = dynamic_cast<CCrisisDlg*>(AfxGetMainWnd());
    if (what == StateChange::Text && hwnd->id == IDC_EDIT_STATUS && !hwnd->text.empty()) {
        events.push_back(hwnd->text + "@" +
                         (dialog ? std::to_string(dialog->m_nProgressPos) : std::string("?")));
    } else if (what == StateChange::Progress && hwnd->id == IDC_PROGRESS) {
        events.push_back("bar=" + std::to_string(hwnd->pos));
    }
}

int RecordingBackend::messageBox(HWND owner, const std::string& text, const std::string& caption,
                                 UINT type) {
    waitDepthAtMessage.push_back(m_inner.waitCursorDepth());
    return m_inner.messageBox(owner, text, caption, type);
}

void BuildHarness::SetUp() {
    DialogHarness::SetUp();
    m_recorder = std::make_unique<RecordingBackend>(backend());
    AfxSetBackend(m_recorder.get());
}

void BuildHarness::TearDown() {
    DialogHarness::TearDown();  // puts the backend back before the recorder goes
    m_recorder.reset();
}

fs::path BuildHarness::sampleKit() {
    return fs::path(QUENVOL_BINARY_DIR) / "examples" / "kit";
}

fs::path BuildHarness::sampleProject() {
    return fs::path(QUENVOL_BINARY_DIR) / "examples" / "project";
}

void BuildHarness::useSampleKit() {
    for (const char* name : {"minidos.sys", "zyplet.exe", "crisboot.bin"}) {
        ASSERT_TRUE(fs::exists(sampleKit() / name))
            << (sampleKit() / name) << " is missing: build the quenvol_samples target";
        fs::copy_file(sampleKit() / name, startDir() / name);
    }
}

void BuildHarness::useSampleProject() {
    for (const auto& entry : fs::directory_iterator(sampleProject())) {
        fs::copy_file(entry.path(), projectDir() / entry.path().filename());
    }
    ASSERT_TRUE(fs::exists(projectDir() / "partnum.mak"));
}

void BuildHarness::useFreshSamples() {
    for (const auto& entry : fs::directory_iterator(startDir())) fs::remove(entry.path());
    for (const auto& entry : fs::directory_iterator(projectDir())) fs::remove(entry.path());
    useSampleKit();
    useSampleProject();
}

void BuildHarness::blankDiskette() {
    putBytes(driveImage(), Bytes(kDisketteBytes, 0));
    console::FormatChoice choice;
    choice.action = console::FormatChoice::Action::Quick;
    policy().onFormat = console::makeFormatAction(choice, &m_format);
}

void BuildHarness::formattedDiskette() {
    fat::MemoryDevice device(static_cast<std::uint32_t>(kDisketteBytes / 512));
    fat::FormatOptions options;
    options.serial = 0x12345678;
    auto formatted = fat::format(device, options);
    ASSERT_TRUE(formatted) << formatted.message();
    ASSERT_TRUE(fattools::saveImage(device, driveImage().string()));
    console::FormatChoice choice;
    choice.action = console::FormatChoice::Action::Skip;
    policy().onFormat = console::makeFormatAction(choice, &m_format);
}

void BuildHarness::startBuild(int kind, std::vector<int> answers) {
    createDialog(projectDir().string());
    click(kind == 0 ? IDC_RADIO_MINIDOS : IDC_RADIO_FULLDOS);
    for (int answer : answers) policy().answers.push_back(answer);
    recorder().events.clear();
    click(IDC_START);
    EXPECT_TRUE(policy().answers.empty()) << "fewer message boxes than answers";
}

Strings BuildHarness::messageTexts() {
    Strings texts;
    for (const auto& record : backend().messages()) texts.push_back(record.text);
    return texts;
}

bool BuildHarness::hasFocus(int id) {
    return dialog().m_hWnd != nullptr && dialog().m_hWnd->focus == control(id);
}

bool BuildHarness::controlEnabled(int id) const {
    HWND w = control(id);
    return w != nullptr && w->enabled;
}

void BuildHarness::expectConsistentDiskette() {
    const std::string image = driveImage().string();
    const fattools::FsckResult fsck = fattools::runFsck(image);
    EXPECT_TRUE(fsck.clean) << fsck.output;
    auto names = fattools::mdirNames(image);
    ASSERT_TRUE(names.has_value());
    std::uint64_t used = 0;
    for (const std::string& name : *names) {
        auto bytes = fattools::mtype(image, name);
        ASSERT_TRUE(bytes.has_value()) << name;
        used += (bytes->size() + 511) / 512 * 512;
    }
    // Clusters taken by no file would show here as missing free space.
    EXPECT_EQ(fattools::mdirFreeBytes(image), kFreeWhenEmpty - used);
}

void BuildHarness::expectDisketteFiles(const std::vector<std::pair<std::string, fs::path>>& files) {
    const std::string image = driveImage().string();
    Strings expected;
    for (const auto& file : files) expected.push_back(file.first);
    EXPECT_EQ(fattools::mdirNames(image), expected);
    for (const auto& [name, source] : files) {
        EXPECT_EQ(fattools::mtype(image, name), fileBytes(source)) << name << " vs " << source;
    }

    // The root directory's own bytes: short names in capitals, no long-name entries, byte 12
    // zero and the archive attribute on every file.
    const Bytes disk = fileBytes(driveImage());
    constexpr std::size_t kRootOffset = 19 * 512;  // boot sector and two FATs of 9 sectors
    for (std::size_t entry = 0; entry < 224; ++entry) {
        const std::uint8_t* e = disk.data() + kRootOffset + entry * 32;
        if (e[0] == 0x00) break;
        if (e[0] == 0xE5) continue;
        const std::uint8_t attributes = e[11];
        ASSERT_NE(attributes, 0x0F) << "a long-name entry at " << entry;
        if (attributes & 0x08) continue;  // the volume label
        EXPECT_EQ(attributes, 0x20) << "entry " << entry;
        EXPECT_EQ(e[12], 0) << "entry " << entry;
        for (int i = 0; i < 11; ++i) EXPECT_FALSE(e[i] >= 'a' && e[i] <= 'z') << "entry " << entry;
    }
    expectConsistentDiskette();
}

Bytes BuildHarness::sector0() const {
    Bytes disk = fileBytes(driveImage());
    disk.resize(512);
    return disk;
}

Bytes BuildHarness::fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes BuildHarness::patterned(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

void BuildHarness::putBytes(const fs::path& path, const Bytes& bytes) {
    dialogtest::writeFile(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace buildtest
