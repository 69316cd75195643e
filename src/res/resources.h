// The program's resources as data: dialog templates, strings, the icon, the help table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace res {

// Window and control styles kept from the templates (the values the templates carry).
inline constexpr std::uint32_t kWsPopup = 0x80000000;
inline constexpr std::uint32_t kWsVisible = 0x10000000;
inline constexpr std::uint32_t kWsDisabled = 0x08000000;
inline constexpr std::uint32_t kWsCaption = 0x00C00000;
inline constexpr std::uint32_t kWsSysMenu = 0x00080000;
inline constexpr std::uint32_t kWsGroup = 0x00020000;
inline constexpr std::uint32_t kWsTabStop = 0x00010000;
inline constexpr std::uint32_t kDsModalFrame = 0x00000080;
inline constexpr std::uint32_t kDsSetFont = 0x00000040;
inline constexpr std::uint32_t kWsExContextHelp = 0x00000400;
inline constexpr std::uint32_t kWsExAppWindow = 0x00040000;

enum class ControlKind {
    PushButton,
    DefPushButton,
    AutoRadioButton,
    GroupBox,
    StaticText,
    StaticIcon,
    Edit,
    ComboBox,
    ListBox,
    ProgressBar,
};

struct ControlTemplate {
    int id;  // -1 for controls without an id
    ControlKind kind;
    std::string text;      // caption; for an icon control the icon's resource number as text
    int x, y, cx, cy;      // dialog units
    std::uint32_t style;   // WS_ and kind-specific bits
    std::uint32_t helpId;  // context help id, 0 for none
};

struct DialogTemplate {
    int id;
    std::string caption;
    std::string fontName;
    int fontPointSize;
    int cx, cy;  // dialog units
    std::uint32_t style;
    std::uint32_t exStyle;
    std::vector<ControlTemplate> controls;  // template order, also the tab order
};

// Kind-specific style bits the backends read.
inline constexpr std::uint32_t kCbsDropDown = 0x0002;
inline constexpr std::uint32_t kCbsAutoHScroll = 0x0040;
inline constexpr std::uint32_t kEsReadOnly = 0x0800;
inline constexpr std::uint32_t kEsAutoHScroll = 0x0080;
inline constexpr std::uint32_t kWsBorder = 0x00800000;

inline constexpr int kIddAboutBox = 100;
inline constexpr int kIdsAboutBox = 101;
inline constexpr int kIddCrisisDialog = 102;
inline constexpr int kIdrMainFrame = 128;
inline constexpr int kIddChooseDirectory = 129;
inline constexpr int kIddFormatDrive = 130;

// Controls of the format dialog (template 130); Close is IDCANCEL (2).
inline constexpr int kIdcFormatCapacity = 1200;
inline constexpr int kIdcFormatFileSystem = 1201;
inline constexpr int kIdcFormatAllocation = 1202;
inline constexpr int kIdcFormatLabel = 1203;
inline constexpr int kIdcFormatQuick = 1204;
inline constexpr int kIdcFormatProgress = 1205;
inline constexpr int kIdcFormatStart = 1206;
// A push button's kind bits that make it a check box the system's button keeps checked.
inline constexpr std::uint32_t kBsAutoCheckBox = 0x0003;

// Returns the template with that id, or nullptr.
const DialogTemplate* findDialogTemplate(int id);

// Returns the string with that id, or an empty text when there is none.
std::string loadString(int id);

// The dialog's help table: (control id, help context id) pairs ended by (0, 0).
struct HelpIdPair {
    std::uint32_t controlId;
    std::uint32_t contextId;
};
const std::vector<HelpIdPair>& crisisHelpTable();

// Icon 128: 16-colour images, one palette index (0..15) per pixel, row by row from the top.
struct IconImage {
    int size;                          // 32 or 16
    std::vector<std::uint8_t> pixels;  // size * size palette indices
    std::vector<bool> mask;            // true where the pixel is transparent
};
struct Icon {
    std::uint32_t palette[16];  // 0xRRGGBB, the classic 16-colour palette
    std::vector<IconImage> images;
};
const Icon& applicationIcon();

}  // namespace res
