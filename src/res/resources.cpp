#include "res/resources.h"

namespace res {
namespace {

constexpr std::uint32_t kChild = 0x40000000 | kWsVisible;

// Context help ids: 0x80000000 + (template 102 << 16) + control id.
constexpr std::uint32_t crisisHelpId(int controlId) {
    return 0x80000000u + (static_cast<std::uint32_t>(kIddCrisisDialog) << 16) +
           static_cast<std::uint32_t>(controlId);
}

DialogTemplate makeCrisisDialog() {
    DialogTemplate t;
    t.id = kIddCrisisDialog;
    t.caption = "Korvane Crisis Disk Build";
    t.fontName = "MS Sans Serif";
    t.fontPointSize = 8;
    t.cx = 223;
    t.cy = 202;
    t.style = kWsPopup | kWsVisible | kWsCaption | kWsSysMenu | kDsModalFrame | kDsSetFont;
    t.exStyle = kWsExContextHelp | kWsExAppWindow;
    t.controls = {
        {1007, ControlKind::PushButton, "&Close", 160, 91, 48, 14, kChild | kWsTabStop,
         crisisHelpId(1007)},
        {-1, ControlKind::StaticText, "Project Path:", 14, 19, 54, 8, kChild | kWsGroup, 0},
        {1000, ControlKind::ComboBox, "", 14, 32, 194, 49,
         kChild | kCbsDropDown | kCbsAutoHScroll | kWsDisabled | kWsTabStop, crisisHelpId(1000)},
        {1001, ControlKind::AutoRadioButton, "Create &MINIDOS Crisis Disk", 22, 83, 103, 10,
         kChild | kWsGroup | kWsTabStop, crisisHelpId(1001)},
        {1003, ControlKind::AutoRadioButton, "Create &FULLDOS Crisis Disk", 22, 102, 105, 10,
         kChild, crisisHelpId(1003)},
        {1002, ControlKind::AutoRadioButton, "Format the &A: Drive Diskette", 22, 120, 105, 10,
         kChild, crisisHelpId(1002)},
        {-1, ControlKind::GroupBox, "Disk Options", 14, 67, 132, 76, kChild | kWsGroup, 0},
        {1008, ControlKind::Edit, "", 14, 156, 198, 12,
         kChild | kEsAutoHScroll | kEsReadOnly | kWsDisabled | kWsBorder, crisisHelpId(1008)},
        {1005, ControlKind::ProgressBar, "", 14, 173, 195, 14, kChild | kWsBorder,
         crisisHelpId(1005)},
        {1004, ControlKind::PushButton, "&Browse...", 161, 14, 48, 14,
         kChild | kWsDisabled | kWsGroup | kWsTabStop, crisisHelpId(1004)},
        {1006, ControlKind::PushButton, "&Start", 160, 71, 48, 14, kChild | kWsTabStop,
         crisisHelpId(1006)},
    };
    return t;
}

DialogTemplate makeAboutBox() {
    DialogTemplate t;
    t.id = kIddAboutBox;
    t.caption = "About Quenvol";
    t.fontName = "MS Sans Serif";
    t.fontPointSize = 8;
    t.cx = 217;
    t.cy = 55;
    t.style = kWsPopup | kWsCaption | kWsSysMenu | kDsModalFrame | kDsSetFont;
    t.exStyle = 0;
    t.controls = {
        {-1, ControlKind::StaticIcon, "128", 10, 7, 20, 20, kChild, 0},
        {-1, ControlKind::StaticText, "Quenvol Version 1.0", 40, 7, 72, 8, kChild, 0},
        {-1, ControlKind::StaticText, "Copyright (C) 2026", 38, 16, 80, 8, kChild, 0},
        {1, ControlKind::DefPushButton, "OK", 178, 7, 32, 14, kChild | kWsGroup | kWsTabStop, 0},
        {-1, ControlKind::StaticText, "The Quenvol developers", 38, 26, 108, 8, kChild, 0},
    };
    return t;
}

DialogTemplate makeChooseDirectory() {
    DialogTemplate t;
    t.id = kIddChooseDirectory;
    t.caption = "Choose Project Path";
    t.fontName = "MS Sans Serif";
    t.fontPointSize = 8;
    t.cx = 165;
    t.cy = 140;
    t.style = 0x80C800C0;
    t.exStyle = 0;
    t.controls = {
        {-1, ControlKind::StaticText, "&Directory:", 7, 9, 92, 9, 0x50020000, 0},
        {1088, ControlKind::StaticText, "", 9, 21, 92, 9, 0x50020080, 0},
        {1121, ControlKind::ListBox, "", 9, 35, 92, 68, 0x50A11053, 0},
        {1091, ControlKind::StaticText, "Dri&ves:", 9, 107, 92, 9, 0x50020000, 0},
        {1137, ControlKind::ComboBox, "", 9, 117, 92, 68, 0x50A10353, 0},
        {1, ControlKind::DefPushButton, "OK", 107, 9, 50, 14, 0x50030001, 0},
        {2, ControlKind::PushButton, "Cancel", 107, 27, 50, 14, 0x50030000, 0},
        {1038, ControlKind::PushButton, "&Help", 107, 49, 50, 14, 0x50030000, 0},
        {1152, ControlKind::Edit, "", 104, 117, 6, 12, 0x40000000, 0},
    };
    return t;
}

// The format dialog of drive A:, ours on every system.
DialogTemplate makeFormatDrive() {
    DialogTemplate t;
    t.id = kIddFormatDrive;
    t.caption = "Format - A:";
    t.fontName = "MS Sans Serif";
    t.fontPointSize = 8;
    t.cx = 190;
    t.cy = 190;
    t.style = kWsPopup | kWsCaption | kWsSysMenu | kDsModalFrame | kDsSetFont;
    t.exStyle = 0;
    constexpr std::uint32_t kList = 0x0003 | 0x00200000;  // a drop-down list, scrolled
    t.controls = {
        {-1, ControlKind::StaticText, "&Capacity:", 7, 7, 176, 8, kChild, 0},
        {kIdcFormatCapacity, ControlKind::ComboBox, "", 7, 17, 176, 60, kChild | kList | kWsTabStop,
         0},
        {-1, ControlKind::StaticText, "&File system:", 7, 35, 176, 8, kChild, 0},
        {kIdcFormatFileSystem, ControlKind::ComboBox, "", 7, 45, 176, 40,
         kChild | kList | kWsTabStop, 0},
        {-1, ControlKind::StaticText, "&Allocation unit size:", 7, 63, 176, 8, kChild, 0},
        {kIdcFormatAllocation, ControlKind::ComboBox, "", 7, 73, 176, 40,
         kChild | kList | kWsTabStop, 0},
        {-1, ControlKind::StaticText, "Volume &label:", 7, 91, 176, 8, kChild, 0},
        {kIdcFormatLabel, ControlKind::Edit, "", 7, 101, 176, 12,
         kChild | kEsAutoHScroll | kWsBorder | kWsTabStop, 0},
        {-1, ControlKind::GroupBox, "Format &options", 7, 119, 176, 28, kChild, 0},
        {kIdcFormatQuick, ControlKind::PushButton, "&Quick Format", 14, 131, 160, 10,
         kChild | kBsAutoCheckBox | kWsTabStop, 0},
        {kIdcFormatProgress, ControlKind::ProgressBar, "", 7, 153, 176, 10, kChild | kWsBorder, 0},
        {kIdcFormatStart, ControlKind::PushButton, "&Start", 79, 169, 50, 14, kChild | kWsTabStop,
         0},
        {2, ControlKind::PushButton, "Close", 133, 169, 50, 14, kChild | kWsTabStop, 0},
    };
    return t;
}

// A diskette drawn in the classic palette: navy body, silver shutter, white label
// with a red cross for "crisis", a black hub opening on the shutter.
IconImage drawDiskette(int size) {
    IconImage img;
    img.size = size;
    img.pixels.assign(static_cast<std::size_t>(size * size), 0);
    img.mask.assign(static_cast<std::size_t>(size * size), true);
    const int s = size / 16;  // 2 for the large image, 1 for the small one
    auto set = [&](int x, int y, std::uint8_t colour) {
        for (int dy = 0; dy < s; ++dy)
            for (int dx = 0; dx < s; ++dx) {
                const auto i = static_cast<std::size_t>((y * s + dy) * size + x * s + dx);
                img.pixels[i] = colour;
                img.mask[i] = false;
            }
    };
    for (int y = 1; y < 15; ++y)
        for (int x = 1; x < 15; ++x) {
            if (x == 14 && y == 1) continue;                       // the clipped corner
            std::uint8_t c = 4;                                    // navy body
            if (y <= 5 && x >= 4 && x <= 11) c = 7;                // shutter
            if (y >= 2 && y <= 4 && x >= 9 && x <= 10) c = 0;      // hub opening
            if (y >= 8 && y <= 14 && x >= 3 && x <= 12) c = 15;    // label
            if (y >= 9 && y <= 13 && (x == 7 || x == 8)) c = 9;    // cross, upright
            if ((y == 10 || y == 11) && x >= 5 && x <= 10) c = 9;  // cross, bar
            if (x == 1 || y == 14 || (x == 14 && y > 1) || (y == 1 && x < 14)) c = 8;
            set(x, y, c);
        }
    return img;
}

}  // namespace

const DialogTemplate* findDialogTemplate(int id) {
    static const std::vector<DialogTemplate> templates = {makeAboutBox(), makeCrisisDialog(),
                                                          makeChooseDirectory(), makeFormatDrive()};
    for (const auto& t : templates)
        if (t.id == id) return &t;
    return nullptr;
}

std::string loadString(int id) {
    if (id == kIdsAboutBox) return "&About Quenvol...";
    return {};
}

const std::vector<HelpIdPair>& crisisHelpTable() {
    static const std::vector<HelpIdPair> table = {
        {1004, crisisHelpId(1004)}, {1007, crisisHelpId(1007)},
        {1006, crisisHelpId(1006)}, {1000, crisisHelpId(1000)},
        {1008, crisisHelpId(1008)}, {1005, crisisHelpId(1005)},
        {1002, crisisHelpId(1002)}, {1003, crisisHelpId(1003)},
        {1001, crisisHelpId(1001)}, {0, 0},
    };
    return table;
}

const Icon& applicationIcon() {
    static const Icon icon = {
        {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0, 0x808080,
         0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF},
        {drawDiskette(32), drawDiskette(16)},
    };
    return icon;
}

}  // namespace res
