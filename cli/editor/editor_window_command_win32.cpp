// editor --window in the Windows build: the curve editor in a real window of its own, as a host shows
// it, until the window is closed. Every curve text the editor sends is printed as it arrives.
#include <windows.h>

#include <iostream>

#include "cli/common/cli_error.h"
#include "cli/common/text_args.h"
#include "cli/editor/editor_window.h"
#include "cli/modules/module_library.h"
#include "factory/interface_id.h"
#include "factory/result_codes.h"
#include "host/raw_calls.h"
#include "host/stand_in_editor_host.h"

namespace shaperhost {

namespace raw = mphost::raw;

namespace {

const wchar_t* const kPanelClass = L"ShaperhostEditorPanel";

// The host's panel: closing it ends the message loop.
LRESULT CALLBACK panelProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

bool interactiveEditorAvailable() {
    return true;
}

void showInteractiveEditor(const ModuleLibrary& library, const std::string& editorId, const std::string& text,
                           int width, int height) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW panelClass{};
    panelClass.cbSize = sizeof(panelClass);
    panelClass.lpfnWndProc = panelProcedure;
    panelClass.hInstance = instance;
    panelClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    panelClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    panelClass.lpszClassName = kPanelClass;
    RegisterClassExW(&panelClass);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, width, height};
    AdjustWindowRect(&frame, style, FALSE);
    HWND panel = CreateWindowExW(0, kPanelClass, L"shaperhost: curve editor", style | WS_VISIBLE,
                                 CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                 frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (panel == nullptr)
        throw failure("cannot create a window (error " + std::to_string(GetLastError()) + ")");

    mphost::EditorHost host;
    std::string last = text;
    host.onPinValue = [&last](const mphost::PinValueSent& sent) {
        last = utf8FromPinText(sent.text);
        std::cout << "sent: " << last << std::endl;
    };
    const std::wstring id = wideIdentifier(editorId);
    void* editor = nullptr;
    void* graphics = nullptr;
    if (raw::createInstance(library.factory(), id.c_str(), 1, host.unknown(), &editor) != gmpi::kResultOk ||
        editor == nullptr ||
        raw::queryInterface(editor, gmpi::kIidGraphicsWinGdi, &graphics) != gmpi::kResultOk) {
        if (editor != nullptr)
            raw::release(editor);
        DestroyWindow(panel);
        throw failure("the library does not create the editor '" + editorId + "' with a window face");
    }
    raw::graphics::arrange(graphics, 0, height, 0, width);
    void* child = nullptr;
    raw::graphics::openWindow(graphics, panel, &child);
    const PinText value = pinText(text);
    raw::editor::setPin(editor, 0, 0, pinTextByteSize(value), value.data());
    raw::editor::notifyPin(editor, 0, 0);
    std::cout << "editor: " << editorId << " in a window of " << width << "x" << height
              << " pixels; drag the points, close the window to finish" << std::endl;

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    raw::graphics::closeWindow(graphics);
    raw::release(graphics);
    raw::release(editor);
    DestroyWindow(panel);
    UnregisterClassW(kPanelClass, instance);
    std::cout << "curve text: " << last << "\n";
}

} // namespace shaperhost
