// editor --window in the Windows build: the curve editor in a real window of its own, as a host shows
// it, until the window is closed. Every curve text the editor sends is printed as it arrives.
#include <windows.h>

#include <iostream>

#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/text_args.h"
#include "factory/interface_id.h"
#include "factory/result_codes.h"
#include "host/editor_host.h"
#include "host/raw_calls.h"

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

struct WindowOptions {
    bool window = false;
    TextOptions text;
    int width = 100;
    int height = 100;
};

void runWindow(Session& session, const WindowOptions& options) {
    if (!options.window)
        throw usageError("this build draws no PNG pictures: the editor runs only in a window (--window)");
    const ModuleCatalog& catalog = session.catalog();
    const ModuleDescription* editorModule = nullptr;
    for (const ModuleDescription& m : catalog.modules) {
        if (m.kind == 1 && editorModule == nullptr)
            editorModule = &m;
    }
    if (editorModule == nullptr)
        throw failure("the description file lists no editor module");
    const ModuleDescription* processing = catalog.find(editorModule->id, 0);
    const std::string text = moduleText(options.text.text, options.text.file,
                                        processing != nullptr ? processing->defaultText() : "");
    const ModuleLibrary& library = session.library();

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
    RECT frame{0, 0, options.width, options.height};
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
    const std::wstring id = wideIdentifier(editorModule->id);
    void* editor = nullptr;
    void* graphics = nullptr;
    if (raw::createInstance(library.factory(), id.c_str(), 1, host.unknown(), &editor) != gmpi::kResultOk ||
        editor == nullptr ||
        raw::queryInterface(editor, gmpi::kIidGraphicsWinGdi, &graphics) != gmpi::kResultOk) {
        if (editor != nullptr)
            raw::release(editor);
        DestroyWindow(panel);
        throw failure("the library does not create the editor '" + editorModule->id + "' with a window face");
    }
    raw::graphics::arrange(graphics, 0, options.height, 0, options.width);
    void* child = nullptr;
    raw::graphics::openWindow(graphics, panel, &child);
    const PinText value = pinText(text);
    raw::editor::setPin(editor, 0, 0, pinTextByteSize(value), value.data());
    raw::editor::notifyPin(editor, 0, 0);
    std::cout << "editor: " << editorModule->id << " in a window of " << options.width << "x"
              << options.height << " pixels; drag the points, close the window to finish" << std::endl;

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

} // namespace

void addEditorWindowCommand(CLI::App& app, Session& session) {
    auto options = std::make_shared<WindowOptions>();
    CLI::App* command =
        app.add_subcommand("editor", "Show the curve editor in a window of its own (--window); the "
                                     "curve texts it sends are printed");
    command->add_flag("--window", options->window, "open the interactive window")->required();
    options->text.addTo(*command, "curve points the host gives the editor");
    command->add_option("--width", options->width, "panel width in pixels")->check(CLI::Range(15, 2000));
    command->add_option("--height", options->height, "panel height in pixels")->check(CLI::Range(15, 2000));
    command->callback([&session, options] { runWindow(session, *options); });
}

} // namespace shaperhost
