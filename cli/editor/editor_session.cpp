#include "cli/editor/editor_session.h"

#include <cmath>

#include "cli/common/cli_error.h"
#include "cli/common/text_args.h"
#include "factory/interface_id.h"
#include "factory/result_codes.h"
#include "host/raw_calls.h"

namespace shaperhost {

namespace raw = mphost::raw;

namespace {

bool readPoint(const std::string& text, int* x, int* y) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos)
        return false;
    double vx = 0.0;
    double vy = 0.0;
    if (!readNumber(text.substr(0, comma), &vx) || !readNumber(text.substr(comma + 1), &vy))
        return false;
    if (vx != std::floor(vx) || vy != std::floor(vy) || std::fabs(vx) > 30000.0 || std::fabs(vy) > 30000.0)
        return false;
    *x = static_cast<int>(vx);
    *y = static_cast<int>(vy);
    return true;
}

} // namespace

Drag parseDrag(const std::string& value) {
    Drag drag;
    const std::size_t colon = value.find(':');
    if (colon == std::string::npos || !readPoint(value.substr(0, colon), &drag.fromX, &drag.fromY) ||
        !readPoint(value.substr(colon + 1), &drag.toX, &drag.toY))
        throw usageError("--drag expects X0,Y0:X1,Y1 in whole pixels, e.g. 50,50:50,30, not '" + value + "'");
    return drag;
}

EditorSession::EditorSession(const ModuleLibrary& library, const std::string& moduleId,
                             const std::string& text, int width, int height)
    : windows(library) {
    const std::wstring id = wideIdentifier(moduleId);
    void* object = nullptr;
    const int32_t result = raw::createInstance(library.factory(), id.c_str(), 1, host.unknown(), &object);
    if (result != gmpi::kResultOk || object == nullptr)
        throw failure("the library does not create the editor '" + moduleId + "' (createInstance result " +
                      std::to_string(result) + ")");
    editor = object;
    if (raw::queryInterface(editor, gmpi::kIidGraphicsWinGdi, &graphics) != gmpi::kResultOk ||
        graphics == nullptr) {
        raw::release(editor);
        throw failure("the editor '" + moduleId + "' has no window face (IMpGraphicsWinGdi)");
    }
    // The host sizes and places the editor in its panel, then opens it there.
    hostWindow = windows.createHostWindow(width, height);
    raw::graphics::arrange(graphics, 0, height, 0, width);
    raw::graphics::openWindow(graphics, hostWindow, &window);
    if (window == nullptr) {
        raw::release(graphics);
        raw::release(editor);
        windows.destroyWindow(hostWindow);
        throw failure("the editor opened no window");
    }
    // The host delivers the curve pin's value.
    const PinText value = pinText(text);
    raw::editor::setPin(editor, 0, 0, pinTextByteSize(value), value.data());
    raw::editor::notifyPin(editor, 0, 0);
}

EditorSession::~EditorSession() {
    raw::graphics::closeWindow(graphics);
    raw::release(graphics);
    raw::release(editor);
    windows.destroyWindow(hostWindow);
}

std::size_t EditorSession::drag(const Drag& d, int steps) {
    const std::size_t before = host.pinValues.size();
    windows.sendMouse(window, EditorWindowSystem::kLeftButtonDown, d.fromX, d.fromY, true);
    for (int k = 1; k <= steps; ++k) {
        const int x =
            d.fromX + static_cast<int>(std::lround(static_cast<double>(d.toX - d.fromX) * k / steps));
        const int y =
            d.fromY + static_cast<int>(std::lround(static_cast<double>(d.toY - d.fromY) * k / steps));
        windows.sendMouse(window, EditorWindowSystem::kMouseMove, x, y, true);
    }
    windows.sendMouse(window, EditorWindowSystem::kLeftButtonUp, d.toX, d.toY, false);
    return host.pinValues.size() - before;
}

Image EditorSession::paint() {
    return windows.paint(window);
}

std::vector<std::string> EditorSession::sentTexts() const {
    std::vector<std::string> texts;
    for (const mphost::PinValueSent& sent : host.pinValues) {
        if (sent.pinIndex == 0)
            texts.push_back(utf8FromPinText(sent.text));
    }
    return texts;
}

} // namespace shaperhost
