// One curve editor opened as a host opens it: created by the factory with the editor host stand-in,
// placed and opened as a child of a host window, given the curve text, painted and dragged with
// window messages. The texts it sends back are captured at the editor host's sendPinValue.
#pragma once

#include <string>
#include <vector>

#include "cli/editor/editor_window.h"
#include "cli/modules/module_library.h"
#include "cli/output/plots.h"
#include "host/stand_in_editor_host.h"

namespace shaperhost {

// A press at `from`, `steps` mouse moves along the line to `to`, and a release there.
struct Drag {
    int fromX = 0;
    int fromY = 0;
    int toX = 0;
    int toY = 0;
};

// "X0,Y0:X1,Y1" in pixels of the panel; malformed values are usage errors.
Drag parseDrag(const std::string& value);

class EditorSession {
public:
    EditorSession(const ModuleLibrary& library, const std::string& moduleId, const std::string& text,
                  int width, int height);
    ~EditorSession();
    EditorSession(const EditorSession&) = delete;
    EditorSession& operator=(const EditorSession&) = delete;

    // Presses, moves in `steps` equal moves and releases; returns how many texts the editor sent.
    std::size_t drag(const Drag& drag, int steps);
    Image paint();

    // Every text the editor sent, in order.
    std::vector<std::string> sentTexts() const;

private:
    EditorWindowSystem windows;
    mphost::EditorHost host;
    void* editor = nullptr;
    void* graphics = nullptr;
    void* hostWindow = nullptr;
    void* window = nullptr;
};

} // namespace shaperhost
