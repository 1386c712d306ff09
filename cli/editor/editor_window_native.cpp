// The native build's window system lives inside the module library (window records with a software
// canvas); the library hands its operations out as a table under a C name.
#include "cli/common/cli_error.h"
#include "cli/editor/editor_window.h"
#include "cli/modules/module_library.h"
#include "gui/platform/native_window_system.h"

namespace shaperhost {

EditorWindowSystem::EditorWindowSystem(const ModuleLibrary& library) {
    auto get =
        reinterpret_cast<GetNativeWindowSystemFunction>(library.file().symbol("MP_GetNativeWindowSystem"));
    if (get != nullptr)
        system = get();
    if (system == nullptr || system->version < 1)
        throw failure(
            "the module library offers no native window system (MP_GetNativeWindowSystem): the editor "
            "command needs the native build of the library");
}

void* EditorWindowSystem::createHostWindow(int width, int height) const {
    return system->createHostWindow(width, height);
}

void EditorWindowSystem::destroyWindow(void* window) const {
    if (window != nullptr)
        system->destroyWindow(window);
}

void EditorWindowSystem::sendMouse(void* window, uint32_t message, int x, int y, bool buttonDown) const {
    // x in the low, y in the high 16 bits, each as a 16-bit two's-complement number.
    const uint32_t packed = static_cast<uint32_t>(static_cast<uint16_t>(x)) |
                            (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16);
    system->sendMessage(window, message, buttonDown ? 1u : 0u, static_cast<intptr_t>(packed));
}

Image EditorWindowSystem::paint(void* window) const {
    system->sendMessage(window, kPaint, 0, 0);
    int32_t width = 0;
    int32_t height = 0;
    const uint8_t* rgb = nullptr;
    if (system->readPixels(window, &width, &height, &rgb) == 0)
        throw failure("the editor window is gone");
    Image image;
    image.width = width;
    image.height = height;
    image.rgb.assign(rgb, rgb + static_cast<std::size_t>(width) * height * 3);
    return image;
}

} // namespace shaperhost
