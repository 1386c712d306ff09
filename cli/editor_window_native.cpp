// The native build's window system lives inside the module library (window records with a software
// canvas); its operations are found in the loaded library by their C++ names.
#include "cli/cli_error.h"
#include "cli/editor_window.h"
#include "cli/module_library.h"
#include "gui/software_canvas.h"

namespace shaperhost {

namespace {

template <typename Fn> Fn lookUp(const mphost::PluginLibrary& library, const char* name) {
    void* address = library.symbol(name);
    if (address == nullptr)
        throw failure(std::string("the module library offers no native window system (") + name +
                      " is missing): the editor command needs the native build of the library");
    return reinterpret_cast<Fn>(address);
}

} // namespace

EditorWindowSystem::EditorWindowSystem(const ModuleLibrary& library) {
    const mphost::PluginLibrary& file = library.file();
    createHost = lookUp<CreateHostWindow>(file, "_ZN8platform6native16createHostWindowEii");
    destroy = lookUp<DestroyWindow>(file, "_ZN8platform13destroyWindowEPv");
    send = lookUp<SendMessage>(file, "_ZN8platform6native11sendMessageEPvjml");
    canvas = lookUp<WindowCanvas>(file, "_ZN8platform6native12windowCanvasEPv");
}

void* EditorWindowSystem::createHostWindow(int width, int height) const {
    return createHost(width, height);
}

void EditorWindowSystem::destroyWindow(void* window) const {
    if (window != nullptr)
        destroy(window);
}

void EditorWindowSystem::sendMouse(void* window, uint32_t message, int x, int y, bool buttonDown) const {
    // x in the low, y in the high 16 bits, each as a 16-bit two's-complement number.
    const uint32_t packed = static_cast<uint32_t>(static_cast<uint16_t>(x)) |
                            (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16);
    send(window, message, buttonDown ? 1u : 0u, static_cast<intptr_t>(packed));
}

Image EditorWindowSystem::paint(void* window) const {
    send(window, kPaint, 0, 0);
    const gfx::Canvas* pixels = static_cast<const gfx::Canvas*>(canvas(window));
    if (pixels == nullptr)
        throw failure("the editor window is gone");
    Image image;
    image.width = pixels->width();
    image.height = pixels->height();
    image.rgb = pixels->rgbBytes();
    return image;
}

} // namespace shaperhost
