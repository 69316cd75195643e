// The main dialog on the console backend over a scratch start directory and a drive A: image,
// with device hooks that count the sector transfers and fail them on request.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "../platform/platform_fixture.h"
#include "app/CrisisDlg.h"
#include "framework/input.h"
#include "platform/device_hooks.h"
#include "support/scripted_policy.h"
#include "ui/console/console_backend.h"

namespace disktest {

// Counts the reads and writes of sector 0 on either back-end; queued failures answer the next
// transfers, everything else goes to the image.
class CountingHooks : public platform::DeviceHooks {
  public:
    int reads = 0;
    int writes = 0;
    int biosResets = 0;
    int failReads = 0;  // this many reads fail before the medium answers
    bool failWrites = false;
    std::function<void()> onEachWrite;  // runs while a write is under way

    std::optional<BOOL> onRead(LPVOID, DWORD, DWORD* done) override {
        ++reads;
        if (failReads > 0) {
            --failReads;
            *done = 0;
            return FALSE;
        }
        return std::nullopt;
    }
    std::optional<BOOL> onWrite(LPCVOID, DWORD, DWORD* done) override {
        ++writes;
        if (onEachWrite) onEachWrite();
        if (failWrites) {
            *done = 0;
            return FALSE;
        }
        return std::nullopt;
    }
    std::optional<BOOL> onControl(platform::DeviceKind kind, DWORD, DIOC_REGISTERS* r) override {
        if (kind != platform::DeviceKind::Vwin32 || r == nullptr) return std::nullopt;
        const DWORD function = (r->reg_EAX >> 8) & 0xFF;
        if (function == 0) ++biosResets;
        if (function == 2) {
            ++reads;
            if (failReads > 0) {
                --failReads;
                r->reg_Flags |= 1;  // carry: the BIOS reports an error
                return TRUE;
            }
        }
        if (function == 3) {
            ++writes;
            if (onEachWrite) onEachWrite();
            if (failWrites) {
                r->reg_Flags |= 1;
                return TRUE;
            }
        }
        return std::nullopt;
    }
};

// Records the status line's text each time it changes.
class RecordingPolicy : public console::ScriptedPolicy {
  public:
    std::vector<std::string> statusTexts;
    std::function<void()> beforeAnswer;  // runs as each message box comes up

    int answerMessageBox(const std::string& text, const std::string& caption, UINT type) override {
        if (beforeAnswer) beforeAnswer();
        return ScriptedPolicy::answerMessageBox(text, caption, type);
    }
    void stateChanged(HWND hwnd, StateChange what) override {
        if (hwnd && hwnd->id == IDC_EDIT_STATUS && what == StateChange::Text) {
            statusTexts.push_back(hwnd->text);
        }
    }
};

class DiskPrepTest : public platformtest::PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        m_config.emplace("XDG_CONFIG_HOME", (m_dir / "config").string());
        std::filesystem::create_directories(m_dir / "config");
        AfxSetBackend(&backend);
        m_hooks.emplace(hooks);
        m_app.emplace("quenvol");
        dlg.emplace();
        m_app->m_pMainWnd = &*dlg;
        ASSERT_TRUE(dlg->Create());
        backend.clearRecords();
        policy.statusTexts.clear();
    }
    void TearDown() override {
        if (m_app) m_app->m_pMainWnd = nullptr;
        dlg.reset();
        m_app.reset();
        m_hooks.reset();
        AfxSetBackend(nullptr);
        m_config.reset();
        PlatformTest::TearDown();
    }

    HWND control(int id) const { return afx::findControl(dlg->m_hWnd, id); }
    std::string statusText() const { return control(IDC_EDIT_STATUS)->text; }

    RecordingPolicy policy;
    console::ConsoleBackend backend{policy};
    CountingHooks hooks;
    std::optional<CCrisisDlg> dlg;

  private:
    std::optional<platformtest::ScopedEnv> m_config;
    std::optional<platform::ScopedDeviceHooks> m_hooks;
    std::optional<CWinApp> m_app;
};

}  // namespace disktest
