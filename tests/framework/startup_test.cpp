#include <gtest/gtest.h>

#include <filesystem>

#include "framework/afxwin.h"
#include "support/fat_tools.h"

TEST(CommandLine, TailSkipsTheProgramNameAndLeadingBlanksOnly) {
    EXPECT_EQ(AfxCommandLineTail("quenvol"), "");
    EXPECT_EQ(AfxCommandLineTail("quenvol /proj/bios1"), "/proj/bios1");
    EXPECT_EQ(AfxCommandLineTail("quenvol    /proj/bios1"), "/proj/bios1");
    // Trailing and inner blanks stay, and so do quote characters.
    EXPECT_EQ(AfxCommandLineTail("quenvol /proj/my bios  "), "/proj/my bios  ");
    EXPECT_EQ(AfxCommandLineTail("quenvol \"/proj/my bios\""), "\"/proj/my bios\"");
    // Every character from 0x01 to 0x20 counts as a blank before the text.
    EXPECT_EQ(AfxCommandLineTail("quenvol\t\x01 \x1f/p"), "/p");
}

TEST(CommandLine, QuotedProgramNameEndsAfterItsClosingQuote) {
    EXPECT_EQ(AfxCommandLineTail("\"/opt/my tools/quenvol\" /proj"), "/proj");
    EXPECT_EQ(AfxCommandLineTail("\"/opt/my tools/quenvol\"/proj"), "/proj");
    EXPECT_EQ(AfxCommandLineTail("\"unterminated name"), "");
}

TEST(CommandLine, StartUpHandsOverExactlyWhatFollowsTheProgramName) {
    // InitInstance is the application's own; start-up here only records what it hands over.
    struct Recorder : CWinApp {
        std::string cmdLine;
        BOOL InitInstance() override {
            cmdLine = m_lpCmdLine;
            return FALSE;
        }
    };
    Recorder recorder;  // the latest application object is the current one
    // Names with blanks, quotes or both: none of them may eat into the project path.
    for (std::string name : {"/opt/my tools/quenvol", "/opt/x\" y/quenvol", "\"quenvol",
                             "/opt/a\"b/quenvol\"", "/opt/\"my tools\"/quenvol", ""}) {
        SCOPED_TRACE(name);
        char arg1[] = "/proj/bios";
        char arg2[] = "two";
        char* argv[] = {name.data(), arg1, arg2, nullptr};
        EXPECT_EQ(AfxWinMain(3, argv), 0);
        EXPECT_EQ(recorder.cmdLine, "/proj/bios two");
        EXPECT_EQ(std::filesystem::path(recorder.m_pszHelpFilePath).filename(),
                  "quenvol_tests.HLP");
        EXPECT_STREQ(recorder.m_pszAppName, "quenvol_tests");
        EXPECT_EQ(AfxGetApp(), &recorder);
    }
    // Blanks before the first argument are skipped; quotes and blanks in it stay.
    char name[] = "/opt/my tools/quenvol";
    char arg[] = " \t\"/proj/my bios\" ";
    char* argv[] = {name, arg, nullptr};
    EXPECT_EQ(AfxWinMain(2, argv), 0);
    EXPECT_EQ(recorder.cmdLine, "\"/proj/my bios\" ");
    // Where the system keeps the line as typed (Windows), its tail stands as typed: the runtime's
    // arguments have lost the quotes, the run of blanks and the trailing blanks.
    char parsed[] = "Z:\\tmp\\q  dir";
    char* fromRuntime[] = {name, parsed, nullptr};
    EXPECT_EQ(AfxWinMain(2, fromRuntime, "quenvol.exe    \"Z:\\tmp\\q  dir\"  "), 0);
    EXPECT_EQ(recorder.cmdLine, "\"Z:\\tmp\\q  dir\"  ");
}

TEST(CommandLine, ApplicationObjectIsRestoredAfterATemporaryOne) {
    CWinApp* const before = AfxGetApp();
    {
        CWinApp temporary;
        EXPECT_EQ(AfxGetApp(), &temporary);
    }
    EXPECT_EQ(AfxGetApp(), before);
}

TEST(HelpPath, ExtensionIsReplacedOrAdded) {
    EXPECT_EQ(AfxHelpPathFor("/usr/bin/quenvol"), "/usr/bin/quenvol.HLP");
    EXPECT_EQ(AfxHelpPathFor("/opt/q/quenvol.exe"), "/opt/q/quenvol.HLP");
    EXPECT_EQ(AfxHelpPathFor("/opt/q.d/quenvol"), "/opt/q.d/quenvol.HLP");
    EXPECT_EQ(AfxHelpPathFor("/opt/q/.hidden"), "/opt/q/.hidden.HLP");
#ifdef _WIN32
    EXPECT_EQ(AfxHelpPathFor("C:\\q.d\\quenvol"), "C:\\q.d\\quenvol.HLP");
#endif
}

TEST(HelpPath, BesideTheProgramFirstThenTheDataFolder) {
    fattools::TempDir dir;
    const std::string bin = dir.file("bin"), data = dir.file("share/quenvol");
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(data);
    const std::string program = bin + "/quenvol", beside = bin + "/quenvol.HLP",
                      installed = data + "/quenvol.HLP";
    // Neither there: the place beside the program, which the error message names.
    EXPECT_EQ(AfxFindHelpFile(program, data), beside);
    std::filesystem::create_directory(beside);  // a folder of that name is no help file
    EXPECT_EQ(AfxFindHelpFile(program, data), beside);
    ASSERT_TRUE(fattools::writeBytes(installed, {'x'}));
    EXPECT_EQ(AfxFindHelpFile(program, data), installed);
    EXPECT_EQ(AfxFindHelpFile(bin + "/quenvol-cli", data), installed);
    EXPECT_EQ(AfxFindHelpFile(program, ""), beside);
    std::filesystem::remove(beside);
    ASSERT_TRUE(fattools::writeBytes(beside, {'y'}));
    EXPECT_EQ(AfxFindHelpFile(program, data), beside);
}
