// The editor window on the real Windows user interface and drawing interface (run under Wine): real
// windows, real messages, and the real drawing compared with the software canvas pixel for pixel.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "curve_editor/waveshaper_gui.h"
#include "factory/module_ids.h"
#include "factory/mp_factory.h"
#include "gui/gfx_base.h"
#include "gui/software_canvas.h"
#include "host/raw_calls.h"
#include "host/stand_in_editor_host.h"
#include "tests/gui/gui_test_support.h"

namespace {

using namespace mphost;
using guitest::Call;
using guitest::graphicsFace;
using guitest::identityWith;
using guitest::RecordingEditor;

const gfx::Colour kBlack = gfx::rgb(0, 0, 0);
const gfx::Colour kGrid = gfx::rgb(0, 100, 0);
const gfx::Colour kCurve = gfx::rgb(0, 255, 0);
const gfx::Colour kText = gfx::rgb(0, 250, 0);

bool classRegistered(WNDCLASSEXW* info = nullptr) {
    WNDCLASSEXW record;
    std::memset(&record, 0, sizeof(record));
    record.cbSize = sizeof(record);
    const BOOL found =
        GetClassInfoExW(static_cast<HINSTANCE>(platform::libraryInstance()), L"DefaultMpWClass", &record);
    if (info != nullptr)
        *info = record;
    return found != FALSE;
}

bool quitQueued() {
    MSG message;
    return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

class WineWindows : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(MpGuiWindowsGfxBase::openWindowCount, 0);
        WNDCLASSEXW hostClass;
        std::memset(&hostClass, 0, sizeof(hostClass));
        hostClass.cbSize = sizeof(hostClass);
        hostClass.lpfnWndProc = DefWindowProcW;
        hostClass.hInstance = GetModuleHandleW(nullptr);
        hostClass.lpszClassName = L"EditorTestPanel";
        RegisterClassExW(&hostClass);
        parent = CreateWindowExW(WS_EX_TOPMOST, L"EditorTestPanel", L"", WS_POPUP | WS_VISIBLE, 0, 0, 400,
                                 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(parent, nullptr);
        quitQueued();
    }
    void TearDown() override {
        DestroyWindow(parent);
        UnregisterClassW(L"EditorTestPanel", GetModuleHandleW(nullptr));
        quitQueued();
        EXPECT_EQ(MpGuiWindowsGfxBase::openWindowCount, 0);
    }
    HWND open(MpGuiWindowsGfxBase& editor, HWND in) {
        platform::WindowHandle window = nullptr;
        EXPECT_EQ(raw::graphics::openWindow(graphicsFace(editor), in, &window), gmpi::kResultOk);
        return static_cast<HWND>(window);
    }

    HWND parent = nullptr;
};

TEST_F(WineWindows, MeasureClamps) {
    RecordingEditor base;
    waveshaperGui curve;
    const struct {
        int32_t a, b, width, height;
    } cases[] = {{5, 500, 15, 100}, {50, 60, 50, 60}, {15, 100, 15, 100}, {14, 101, 15, 100}};
    for (const auto& c : cases) {
        for (MpGuiWindowsGfxBase* editor :
             {static_cast<MpGuiWindowsGfxBase*>(&base), static_cast<MpGuiWindowsGfxBase*>(&curve)}) {
            raw::Size size{-1, -1};
            EXPECT_EQ(raw::graphics::measure(graphicsFace(*editor), c.a, c.b, &size), gmpi::kResultOk);
            EXPECT_EQ(size.width, c.width);
            EXPECT_EQ(size.height, c.height);
        }
    }
}

TEST_F(WineWindows, ArrangeThenOpenMakesAChildAtTheStoredPlace) {
    RecordingEditor editor;
    raw::graphics::arrange(graphicsFace(editor), 10, 110, 20, 220);
    const HWND window = open(editor, parent);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(static_cast<HWND>(editor.windowHandle), window);
    EXPECT_EQ(GetParent(window), parent);
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, 20);
    EXPECT_EQ(rect.top, 10);
    EXPECT_EQ(rect.right - rect.left, 200);
    EXPECT_EQ(rect.bottom - rect.top, 100);
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(GetWindowLongW(window, GWLP_USERDATA),
              static_cast<LONG>(reinterpret_cast<intptr_t>(static_cast<MpGuiWindowsGfxBase*>(&editor))));
    raw::graphics::closeWindow(graphicsFace(editor));
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(WineWindows, ClassRegisteredWithTheFirstWindowAndGoneAfterTheLast) {
    RecordingEditor first;
    RecordingEditor second;
    EXPECT_FALSE(classRegistered());
    open(first, parent);
    WNDCLASSEXW info;
    ASSERT_TRUE(classRegistered(&info));
    EXPECT_EQ(info.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(info.lpfnWndProc, reinterpret_cast<WNDPROC>(&MpGuiWindowsGfxBase::sharedWindowProc));
    EXPECT_EQ(info.hCursor, LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)));
    EXPECT_EQ(info.hbrBackground, nullptr);
    open(second, parent);
    EXPECT_EQ(MpGuiWindowsGfxBase::openWindowCount, 2);
    raw::graphics::closeWindow(graphicsFace(first));
    EXPECT_TRUE(classRegistered());
    raw::graphics::closeWindow(graphicsFace(second));
    EXPECT_FALSE(classRegistered());
    EXPECT_EQ(MpGuiWindowsGfxBase::openWindowCount, 0);
}

TEST_F(WineWindows, MessageDispatch) {
    RecordingEditor editor;
    raw::graphics::arrange(graphicsFace(editor), 0, 50, 0, 60);
    const HWND window = open(editor, parent);
    ASSERT_NE(window, nullptr);

    editor.calls.clear();
    EXPECT_EQ(SendMessageW(window, WM_PAINT, 0, 0), 1);
    ASSERT_EQ(editor.calls.size(), 1u);
    EXPECT_STREQ(editor.calls[0].handler, "paint");
    EXPECT_EQ(editor.calls[0].flags, 1) << "a device context";

    SetCapture(window);
    EXPECT_TRUE(editor.isMouseCaptured());
    const struct {
        UINT message;
        WPARAM flags;
        int x, y;
        const char* handler;
    } mouse[] = {{WM_LBUTTONDOWN, MK_LBUTTON, -5, 7, "down"},
                 {WM_MOUSEMOVE, MK_LBUTTON, -40, -3, "move"},
                 {WM_LBUTTONUP, 0, 300, -1, "up"}};
    for (const auto& m : mouse) {
        editor.calls.clear();
        EXPECT_EQ(SendMessageW(window, m.message, m.flags, MAKELPARAM(m.x, m.y)), 1);
        ASSERT_EQ(editor.calls.size(), 1u);
        EXPECT_STREQ(editor.calls[0].handler, m.handler);
        EXPECT_EQ(editor.calls[0].flags, static_cast<int32_t>(m.flags));
        EXPECT_EQ(editor.calls[0].x, m.x);
        EXPECT_EQ(editor.calls[0].y, m.y);
    }
    ReleaseCapture();
    EXPECT_FALSE(editor.isMouseCaptured());

    // A real timer message through the message loop (other queued messages, such as a paint, may come
    // first).
    editor.calls.clear();
    const auto timerSeen = [&editor] {
        for (const Call& call : editor.calls) {
            if (std::string(call.handler) == "timer")
                return true;
        }
        return false;
    };
    SetTimer(window, 1, 10, nullptr);
    const DWORD start = GetTickCount();
    while (!timerSeen() && GetTickCount() - start < 3000) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    }
    KillTimer(window, 1);
    EXPECT_TRUE(timerSeen());
    EXPECT_EQ(SendMessageW(window, WM_TIMER, 1, 0), 1);

    // WM_CLOSE destroys the child window; its WM_DESTROY posts no quit.
    EXPECT_EQ(SendMessageW(window, WM_CLOSE, 0, 0), 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(quitQueued());
    raw::graphics::closeWindow(graphicsFace(editor));
}

TEST_F(WineWindows, DestroyingATopLevelEditorWindowPostsQuit) {
    RecordingEditor editor;
    editor.topLevel = true;
    raw::graphics::arrange(graphicsFace(editor), 0, 40, 0, 40);
    const HWND window = open(editor, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetParent(window), nullptr);
    raw::graphics::closeWindow(graphicsFace(editor));
    EXPECT_TRUE(quitQueued());
}

class WineCurveEditor : public WineWindows {
protected:
    void SetUp() override {
        WineWindows::SetUp();
        void* factory = nullptr;
        ASSERT_EQ(MpFactory::instance()->queryInterface(gmpi::kIidFactory2, &factory), gmpi::kResultOk);
        ASSERT_EQ(raw::createInstance(factory, kCurveWaveshaperId, kEditorModule, host.unknown(), &ui),
                  gmpi::kResultOk);
        editor = dynamic_cast<waveshaperGui*>(static_cast<gmpi::IMpUserInterface*>(ui));
        ASSERT_NE(editor, nullptr);
    }
    void TearDown() override {
        if (ui != nullptr) {
            raw::graphics::closeWindow(graphicsFace(*editor));
            raw::release(ui);
        }
        WineWindows::TearDown();
    }
    void deliver(const PinText& text) {
        raw::editor::setPin(ui, kCurveEditorTextPin, 0, static_cast<int32_t>(text.size() * 2), text.data());
        raw::editor::notifyPin(ui, kCurveEditorTextPin, 0);
    }

    EditorHost host;
    void* ui = nullptr;
    waveshaperGui* editor = nullptr;
};

TEST_F(WineCurveEditor, DragWithWindowMessagesSendsTheCurveText) {
    raw::graphics::arrange(graphicsFace(*editor), 0, 100, 0, 100);
    const HWND window = open(*editor, parent);
    ASSERT_NE(window, nullptr);
    deliver(u"");
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 50));
    EXPECT_EQ(GetCapture(), window);
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(30, 50));
    ASSERT_EQ(host.pinValues.size(), 1u);
    EXPECT_EQ(host.pinValues[0].text, identityWith(5, u"(-0.9,0.0)"));
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(30, -20));
    ASSERT_EQ(host.pinValues.size(), 2u);
    EXPECT_EQ(host.pinValues[1].text, identityWith(5, u"(-0.9,5.0)"));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(30, -20));
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(host.pinValues.size(), 2u);
}

TEST_F(WineCurveEditor, ReleasedWithAnOpenWindowTheEditorClosesIt) {
    raw::graphics::arrange(graphicsFace(*editor), 0, 100, 0, 100);
    const HWND window = open(*editor, parent);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(raw::release(ui), 0);
    ui = nullptr;
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(MpGuiWindowsGfxBase::openWindowCount, 0);
    EXPECT_FALSE(classRegistered());
}

// Pixels of a 32-bit top-down DIB as colours.
class Dib {
public:
    Dib(int width, int height) : w(width), h(height) {
        BITMAPINFO info;
        std::memset(&info, 0, sizeof(info));
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        previous = SelectObject(dc, bitmap);
    }
    ~Dib() {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    gfx::Colour pixel(int x, int y) const {
        GdiFlush();
        const uint32_t v = bits[y * w + x];
        return gfx::rgb((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    HDC dc = nullptr;

private:
    int w, h;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    uint32_t* bits = nullptr;
};

bool isPanelColour(gfx::Colour c) {
    return c == kBlack || c == kGrid || c == kCurve;
}

// Compares outside the text. Text pixels are those in the text colour on either side, and on the
// system's side also any colour the panel never uses outside text (smoothed glyph edges); a pixel is
// left out when it or one of its eight neighbours is a text pixel, since a smoothed edge may happen to
// take a panel colour. A panel without text is compared everywhere.
template <class Real>
void expectSamePanel(const gfx::Canvas& soft, const Real& real, int width, int height, bool hasText) {
    std::vector<char> text(static_cast<std::size_t>(width * height), 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const gfx::Colour r = real.pixel(x, y);
            if (soft.pixel(x, y) != kText && r != kText && isPanelColour(r))
                continue;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    if (x + dx >= 0 && y + dy >= 0 && x + dx < width && y + dy < height)
                        text[static_cast<std::size_t>((y + dy) * width + x + dx)] = 1;
                }
            }
        }
    }
    int compared = 0;
    int mismatches = 0;
    std::string report;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (text[static_cast<std::size_t>(y * width + x)])
                continue;
            ++compared;
            const gfx::Colour s = soft.pixel(x, y);
            const gfx::Colour r = real.pixel(x, y);
            if (s != r && ++mismatches <= 20)
                report += " (" + std::to_string(x) + "," + std::to_string(y) + ") soft " + std::to_string(s) +
                          " real " + std::to_string(r);
        }
    }
    EXPECT_EQ(mismatches, 0) << report;
    if (hasText)
        EXPECT_GT(compared, width * height / 4) << "the text covers only part of the panel";
    else
        EXPECT_EQ(compared, width * height);
}

TEST_F(WineCurveEditor, SystemDrawingMatchesTheSoftwareCanvas) {
    const PinText curves[] = {
        u"",
        u"(-5,-4.37)(-4.1,3.3)(-3.05,-2.2)(-1.7,-0.4)(-1.2,4.9)(0.33,-4.6)(0.5,0.07)(2.9,1.1)(3.3,-3.9)(4.4,"
        u"2.5)"
        u"(5,-0.15)",
        u"(-5,5)(-4,6)(-3,nan)(-2,-7)(-1,-1)(0,0)(1,1e30)(2,2)(3,3)(4,4)(5,-5)",
    };
    const int sizes[][2] = {{100, 100}, {73, 41}, {100, 31}, {15, 15}, {37, 100}, {64, 30}};
    for (const PinText& curve : curves) {
        deliver(curve);
        for (const auto& size : sizes) {
            SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]));
            raw::graphics::arrange(graphicsFace(*editor), 0, size[1], 0, size[0]);
            gfx::Canvas soft(size[0], size[1]);
            gfx::SoftwarePainter painter(soft);
            editor->paint(painter);
            Dib real(size[0], size[1]);
            editor->handlePaint(real.dc);
            expectSamePanel(soft, real, size[0], size[1], size[1] > 30);
        }
    }
}

TEST_F(WineCurveEditor, WindowPixelsMatchTheSoftwareCanvas) {
    const HDC screen = GetDC(nullptr);
    const int depth = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    if (depth < 24)
        GTEST_SKIP() << "the display keeps only " << depth << " bits per pixel: colours cannot match exactly";
    raw::graphics::arrange(graphicsFace(*editor), 0, 100, 0, 100);
    deliver(u"");
    const HWND window = open(*editor, parent);
    ASSERT_NE(window, nullptr);
    // A drag in progress adds the read-out, which the comparison leaves out with the labels.
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(70, 30));
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(73, 22));
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    GdiFlush();

    Dib real(100, 100);
    const HDC windowDc = GetDC(window);
    ASSERT_TRUE(BitBlt(real.dc, 0, 0, 100, 100, windowDc, 0, 0, SRCCOPY));
    ReleaseDC(window, windowDc);

    bool anyDrawn = false;
    for (int y = 0; y < 100 && !anyDrawn; ++y) {
        for (int x = 0; x < 100 && !anyDrawn; ++x)
            anyDrawn = real.pixel(x, y) != kBlack;
    }
    if (!anyDrawn)
        GTEST_SKIP() << "this display does not keep window contents to read back";

    gfx::Canvas soft(100, 100);
    gfx::SoftwarePainter painter(soft);
    editor->paint(painter);
    expectSamePanel(soft, real, 100, 100, true);
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(73, 22));
}

} // namespace
