// The part of the window-system operations that is the same wherever the library keeps its own window
// records (the window-system-free build and X11): the records' common fields, the registry of live
// windows and classes, and the operations that only read or change those. Each window system extends
// the record with what it needs and implements creation, destruction and painting itself.
//
// Threads: the registry is used on the one thread that owns the windows (the editor thread).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/platform/platform.h"
#include "gui/software_canvas.h"

namespace platform {
namespace records {

struct WindowRecord {
    virtual ~WindowRecord() = default;

    std::wstring className;
    InstanceHandle instance = nullptr;
    // Null for a window the library does not own (an adopted window of another client).
    WindowProcedure procedure = nullptr;
    WindowRecord* parent = nullptr;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int width = 0;
    int height = 0;
    intptr_t userData = 0;
    bool invalid = true; // a repaint is pending
    bool destroying = false;
    gfx::Canvas canvas;
    std::unique_ptr<gfx::SoftwarePainter> painter;
};

struct RegisteredClass {
    std::wstring name;
    WindowClassInfo info;
};

struct Registry {
    std::vector<WindowRecord*> windows;
    std::map<std::pair<std::wstring, InstanceHandle>, RegisteredClass> classes;
    WindowHandle capture = nullptr;
    bool quit = false;
    int quitCode = 0;
    uint16_t nextAtom = 0xC000;
};

Registry& registry();

// The record behind a handle; null when the handle names no live window.
WindowRecord* recordOf(WindowHandle handle);

// The registered class of that name and instance; null when there is none.
const RegisteredClass* findClass(const wchar_t* className, InstanceHandle instance);

// The live windows whose parent is `window`.
std::vector<WindowRecord*> childrenOf(const WindowRecord* window);

// The record's common fields from its class and the creation arguments, with a software canvas of the
// client size (negative sizes are 0).
void initialise(WindowRecord& window, const RegisteredClass& windowClass, InstanceHandle instance,
                WindowRecord* parent, uint32_t style, uint32_t exStyle, int width, int height);

// Takes a destroyed window out of the registry (and out of capture) and deletes it.
void forget(WindowRecord* window);

} // namespace records
} // namespace platform
