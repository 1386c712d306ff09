// A stand-in for the host application's editor side: the three services an editor asks for, plus
// the second-generation editor host. Each can be withheld to exercise an editor's failure path.
//
// Threads and references: the contracts of gui/editor_host.h (legend in factory/plugin_interfaces.h).
// Tests and tools call the editor and receive its calls on one thread, which plays the editor thread.
// The count is only kept: the object belongs to whoever constructed it and release never deletes it.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "factory/pin_text.h"
#include "gui/editor_host.h"

namespace mphost {

struct PinValueSent {
    int32_t pinIndex;
    int32_t byteCount;
    PinText text;
    int32_t voice;
};

class EditorHost : public gmpi::IEditorHost,
                   public gmpi::IWindowHost,
                   public gmpi::IStyleHost,
                   public gmpi::IEditorHost2 {
public:
    EditorHost() = default;
    virtual ~EditorHost() = default;

    // The object's identity as a host hands it over.
    gmpi::IMpUnknown* unknown() { return static_cast<gmpi::IEditorHost*>(this); }

    int32_t MP_CALL queryInterface(const gmpi::InterfaceId& iid, void** object) override;
    int32_t MP_CALL addRef() override { return ++refCount; }
    int32_t MP_CALL release() override { return --refCount; }
    int32_t MP_CALL getStyleInfo(const wchar_t* styleName, void* record, int32_t* value) override;

    // Services answered by queryInterface; clear one to withhold it.
    bool offerEditorHost = true;
    bool offerWindowHost = true;
    bool offerStyleHost = true;
    bool offerEditorHost2 = true;

    // Called from inside sendPinValue, as a host that forwards a value at once would.
    std::function<void(const PinValueSent&)> onPinValue;

    std::vector<PinValueSent> pinValues;
    std::vector<std::wstring> styleRequests;
    int32_t referenceCount() const { return refCount; }

    // Both editor-host generations share this one operation.
    int32_t MP_CALL sendPinValue(int32_t pinIndex, int32_t byteCount, const void* data,
                                 int32_t voice) override;

private:
    int32_t refCount = 1;
};

} // namespace mphost
