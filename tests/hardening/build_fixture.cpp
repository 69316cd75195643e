#include "hardening/build_fixture.h"

#include "support/fat_tools.h"

namespace hardening {

namespace fs = std::filesystem;

const Bytes& sampleBootSector() {
    static const Bytes bytes =
        fattools::readBytes(std::string(QUENVOL_SAMPLE_KIT_DIR) + "/crisboot.bin")
            .value_or(Bytes());
    return bytes;
}

Bytes patternBytes(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::uint8_t& b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

void BuildFixture::clearFolders() {
    for (const fs::path& folder : {startDir(), projectDir()}) {
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            fs::remove_all(entry.path());
        }
    }
}

namespace {

void writeAll(const fs::path& folder, const std::map<std::string, Bytes>& files) {
    for (const auto& [name, bytes] : files) {
        ASSERT_TRUE(fattools::writeBytes((folder / name).string(), bytes)) << name;
    }
}

}  // namespace

void BuildFixture::writeStartFiles(const std::map<std::string, Bytes>& files) {
    writeAll(startDir(), files);
}

void BuildFixture::writeProjectFiles(const std::map<std::string, Bytes>& files) {
    writeAll(projectDir(), files);
}

BuildRun BuildFixture::runBuild(int kind, console::FormatChoice::Action format,
                                const std::string& label) {
    BuildRun run;
    backend().clearRecords();
    policy().answers.clear();
    policy().answers.push_back(IDYES);  // the project folder is the one meant
    console::FormatChoice choice;
    choice.action = format;
    choice.label = label;
    policy().onFormat = console::makeFormatAction(choice, &run.format);
    createDialog(projectDir().string());
    click(kind == 0 ? IDC_RADIO_MINIDOS : IDC_RADIO_FULLDOS);
    click(IDC_START);
    run.messages = backend().messages();
    for (const console::MessageRecord& message : run.messages) {
        if (message.text == texts::kSucceeded) run.reportedSuccess = true;
    }
    run.outcome = dialog().m_outcome;
    destroyDialog();
    policy().onFormat = nullptr;  // it points into this run
    return run;
}

}  // namespace hardening
