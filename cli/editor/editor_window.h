// The window system an editor module draws into, as the host program reaches it: a host window to
// parent the editor, messages sent to the editor's window, and the window's pixels after a paint.
#pragma once

#include <cstdint>
#include <string>

#include "cli/output/plots.h"

struct NativeWindowSystemTable;

namespace shaperhost {

class ModuleLibrary;

class EditorWindowSystem {
public:
    // Finds the window system of the loaded library; a failure when it has none.
    explicit EditorWindowSystem(const ModuleLibrary& library);

    void* createHostWindow(int width, int height) const;
    void destroyWindow(void* window) const;
    // Sends a message with the mouse position packed as the system packs it.
    void sendMouse(void* window, uint32_t message, int x, int y, bool buttonDown) const;
    // Paints the window now and returns its client pixels.
    Image paint(void* window) const;

    static constexpr uint32_t kMouseMove = 0x0200;
    static constexpr uint32_t kLeftButtonDown = 0x0201;
    static constexpr uint32_t kLeftButtonUp = 0x0202;
    static constexpr uint32_t kPaint = 0x000F;

private:
    // The library's own window system in the native build; the Windows build calls the system.
    const ::NativeWindowSystemTable* system = nullptr;
};

// Whether this build shows the editor interactively in a window of its own (editor --window): only
// where the system has real windows.
bool interactiveEditorAvailable();

// Shows the editor in a window of its own until the user closes it, printing every curve text the
// editor sends as it arrives, then the last one.
void showInteractiveEditor(const ModuleLibrary& library, const std::string& editorId, const std::string& text,
                           int width, int height);

} // namespace shaperhost
