// The resource script as the program ships it: the dialog template, read from the module
// and as created by the window manager (Wine in CI), and the icon.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/resource.h"

namespace {

constexpr const char* kTitle = "KV3/4 Application Update";

INT_PTR CALLBACK PassiveProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// Client rectangle of a control, and the template's dialog units mapped for this dialog.
RECT ControlRect(HWND dialog, HWND control) {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT Units(HWND dialog, int x, int y, int width, int height) {
    RECT rect{x, y, x + width, y + height};
    MapDialogRect(dialog, &rect);
    return rect;
}

void ExpectRect(const RECT& actual, const RECT& expected, const char* what) {
    EXPECT_EQ(actual.left, expected.left) << what;
    EXPECT_EQ(actual.top, expected.top) << what;
    EXPECT_EQ(actual.right, expected.right) << what;
    EXPECT_EQ(actual.bottom, expected.bottom) << what;
}

class DialogTemplateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_UPDATE),
                                     nullptr, PassiveProc, 0);
        ASSERT_NE(dialog_, nullptr);
    }
    void TearDown() override {
        if (dialog_ != nullptr) {
            DestroyWindow(dialog_);
        }
    }
    HWND dialog_ = nullptr;
};

TEST_F(DialogTemplateTest, WindowHasTitleStylesAndSize) {
    EXPECT_EQ(TextOf(dialog_), kTitle);
    const LONG_PTR style = GetWindowLongPtrA(dialog_, GWL_STYLE);
    for (LONG_PTR bit :
         {LONG_PTR{WS_POPUP}, LONG_PTR{WS_VISIBLE}, LONG_PTR{WS_CAPTION}, LONG_PTR{WS_SYSMENU}}) {
        EXPECT_EQ(style & bit, bit) << std::hex << bit;
    }
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
    const LONG_PTR exStyle = GetWindowLongPtrA(dialog_, GWL_EXSTYLE);
    EXPECT_EQ(exStyle & WS_EX_APPWINDOW, WS_EX_APPWINDOW);
    EXPECT_EQ(exStyle & WS_EX_DLGMODALFRAME, WS_EX_DLGMODALFRAME);  // from DS_MODALFRAME

    RECT client;
    GetClientRect(dialog_, &client);
    ExpectRect(client, Units(dialog_, 0, 0, 318, 62), "client area");
}

TEST_F(DialogTemplateTest, FontIsMsSansSerifEightPoint) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog_, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTA logFont{};
    ASSERT_NE(GetObjectA(font, sizeof logFont, &logFont), 0);
    EXPECT_STREQ(logFont.lfFaceName, "MS Sans Serif");
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(logFont.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72));
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(logFont.lfCharSet, DEFAULT_CHARSET);
}

TEST_F(DialogTemplateTest, ControlsInTemplateOrder) {
    HWND progress = GetWindow(dialog_, GW_CHILD);
    ASSERT_NE(progress, nullptr);
    HWND status = GetWindow(progress, GW_HWNDNEXT);
    ASSERT_NE(status, nullptr);
    HWND warning = GetWindow(status, GW_HWNDNEXT);
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(GetWindow(warning, GW_HWNDNEXT), nullptr);

    EXPECT_EQ(GetDlgCtrlID(progress), IDC_PROGRESS);
    EXPECT_EQ(ClassOf(progress), PROGRESS_CLASSA);
    EXPECT_EQ(GetWindowLongPtrA(progress, GWL_STYLE) & PBS_SMOOTH, PBS_SMOOTH);
    ExpectRect(ControlRect(dialog_, progress), Units(dialog_, 7, 21, 304, 19), "progress");

    EXPECT_EQ(GetDlgCtrlID(status), IDC_STATUS);
    EXPECT_EQ(ClassOf(status), "Edit");
    const LONG_PTR statusStyle = GetWindowLongPtrA(status, GWL_STYLE);
    EXPECT_EQ(statusStyle & ES_READONLY, ES_READONLY);
    EXPECT_EQ(statusStyle & ES_AUTOHSCROLL, ES_AUTOHSCROLL);
    EXPECT_EQ(statusStyle & WS_BORDER, 0);
    EXPECT_EQ(GetWindowLongPtrA(status, GWL_EXSTYLE) & WS_EX_TRANSPARENT, WS_EX_TRANSPARENT);
    EXPECT_EQ(TextOf(status), "");
    ExpectRect(ControlRect(dialog_, status), Units(dialog_, 7, 7, 304, 12), "status line");

    EXPECT_EQ(ClassOf(warning), "Static");
    EXPECT_EQ(GetDlgCtrlID(warning), IDC_STATIC);
    EXPECT_EQ(GetWindowLongPtrA(warning, GWL_STYLE) & SS_TYPEMASK, SS_CENTER);
    EXPECT_EQ(TextOf(warning), "Do Not Disconnect Your Ostrevan...  Please Wait...");
    ExpectRect(ControlRect(dialog_, warning), Units(dialog_, 7, 47, 304, 8), "warning");
}

// The template as stored in the module, read field by field (DLGTEMPLATEEX and its items).
class TemplateReader {
  public:
    explicit TemplateReader(const uint8_t* data) : p_(data), start_(data) {}
    uint16_t Word() {
        uint16_t value;
        std::memcpy(&value, p_, 2);
        p_ += 2;
        return value;
    }
    uint32_t Dword() { return Word() | (static_cast<uint32_t>(Word()) << 16); }
    uint8_t Byte() { return *p_++; }
    // A string or, after 0xFFFF, a number written as "#n".
    std::string SzOrOrd() {
        uint16_t first = Word();
        if (first == 0xFFFF) {
            return "#" + std::to_string(Word());
        }
        std::string text;
        for (uint16_t c = first; c != 0; c = Word()) {
            text.push_back(static_cast<char>(c));
        }
        return text;
    }
    void AlignDword() {
        while ((p_ - start_) % 4 != 0) {
            ++p_;
        }
    }

  private:
    const uint8_t* p_;
    const uint8_t* start_;
};

struct TemplateItem {
    uint32_t exStyle, style;
    int16_t x, y, cx, cy;
    int32_t id;
    std::string className, title;
};

TEST(DialogResourceTest, TemplateHoldsTheDescribedDialog) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDD_UPDATE), MAKEINTRESOURCEA(5));
    ASSERT_NE(found, nullptr);
    TemplateReader reader(static_cast<const uint8_t*>(LockResource(LoadResource(module, found))));
    EXPECT_EQ(reader.Word(), 1);       // version
    EXPECT_EQ(reader.Word(), 0xFFFF);  // extended template
    reader.Dword();                    // help id
    EXPECT_EQ(reader.Dword(), static_cast<uint32_t>(WS_EX_APPWINDOW));
    EXPECT_EQ(reader.Dword(), static_cast<uint32_t>(DS_MODALFRAME | WS_POPUP | WS_VISIBLE |
                                                    WS_CAPTION | WS_SYSMENU | DS_SETFONT));
    const uint16_t count = reader.Word();
    ASSERT_EQ(count, 3);
    const int16_t frame[4] = {
        static_cast<int16_t>(reader.Word()), static_cast<int16_t>(reader.Word()),
        static_cast<int16_t>(reader.Word()), static_cast<int16_t>(reader.Word())};
    EXPECT_EQ(frame[2], 318);
    EXPECT_EQ(frame[3], 62);
    EXPECT_EQ(reader.SzOrOrd(), "");  // no menu
    EXPECT_EQ(reader.SzOrOrd(), "");  // the standard dialog class
    EXPECT_EQ(reader.SzOrOrd(), kTitle);
    EXPECT_EQ(reader.Word(), 8);  // point size
    reader.Word();                // weight
    reader.Byte();                // italic
    EXPECT_EQ(reader.Byte(), DEFAULT_CHARSET);
    EXPECT_EQ(reader.SzOrOrd(), "MS Sans Serif");

    std::vector<TemplateItem> items;
    for (int i = 0; i < count; ++i) {
        reader.AlignDword();
        TemplateItem item;
        reader.Dword();  // help id
        item.exStyle = reader.Dword();
        item.style = reader.Dword();
        item.x = static_cast<int16_t>(reader.Word());
        item.y = static_cast<int16_t>(reader.Word());
        item.cx = static_cast<int16_t>(reader.Word());
        item.cy = static_cast<int16_t>(reader.Word());
        item.id = static_cast<int32_t>(reader.Dword());
        item.className = reader.SzOrOrd();
        item.title = reader.SzOrOrd();
        const uint16_t extra = reader.Word();
        for (uint16_t b = 0; b < extra; ++b) {
            reader.Byte();
        }
        items.push_back(item);
    }
    const DWORD child = WS_CHILD | WS_VISIBLE;
    const TemplateItem& progress = items[0];
    EXPECT_EQ(progress.id, IDC_PROGRESS);
    EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, progress.className.c_str(), -1,
                             PROGRESS_CLASSA, -1),
              CSTR_EQUAL)
        << progress.className;
    EXPECT_EQ(progress.style, child | PBS_SMOOTH | WS_BORDER);
    EXPECT_EQ(progress.exStyle, 0u);
    EXPECT_EQ((std::vector<int>{progress.x, progress.y, progress.cx, progress.cy}),
              (std::vector<int>{7, 21, 304, 19}));

    const TemplateItem& status = items[1];
    EXPECT_EQ(status.id, IDC_STATUS);
    EXPECT_EQ(status.className, "#129");  // edit
    EXPECT_EQ(status.style, child | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL | ES_READONLY);
    EXPECT_EQ(status.exStyle, static_cast<uint32_t>(WS_EX_TRANSPARENT));
    EXPECT_EQ((std::vector<int>{status.x, status.y, status.cx, status.cy}),
              (std::vector<int>{7, 7, 304, 12}));

    const TemplateItem& warning = items[2];
    EXPECT_EQ(warning.id, IDC_STATIC);
    EXPECT_EQ(warning.className, "#130");  // static
    EXPECT_EQ(warning.style, child | WS_GROUP | SS_CENTER);
    EXPECT_EQ(warning.title, "Do Not Disconnect Your Ostrevan...  Please Wait...");
    EXPECT_EQ((std::vector<int>{warning.x, warning.y, warning.cx, warning.cy}),
              (std::vector<int>{7, 47, 304, 8}));
}

TEST(DialogIconTest, IconHasLargeAndSmallImages) {
    for (int size : {16, 32, 48}) {
        HANDLE icon = LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_OSTREVAN),
                                 IMAGE_ICON, size, size, 0);
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(static_cast<HICON>(icon), &info));
        BITMAP bitmap{};
        GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(static_cast<HICON>(icon));
    }
}

}  // namespace
