#include "host/stand_in_editor_host.h"

namespace mphost {

int32_t EditorHost::queryInterface(const gmpi::InterfaceId& iid, void** object) {
    *object = nullptr;
    if (iid == gmpi::kIidUnknown || (iid == gmpi::kIidEditorHost && offerEditorHost))
        *object = static_cast<gmpi::IEditorHost*>(this);
    else if (iid == gmpi::kIidWindowHost && offerWindowHost)
        *object = static_cast<gmpi::IWindowHost*>(this);
    else if (iid == gmpi::kIidStyleHost && offerStyleHost)
        *object = static_cast<gmpi::IStyleHost*>(this);
    else if (iid == gmpi::kIidEditorHost2 && offerEditorHost2)
        *object = static_cast<gmpi::IEditorHost2*>(this);
    if (*object == nullptr)
        return gmpi::kResultUnsupported;
    addRef();
    return gmpi::kResultOk;
}

int32_t EditorHost::getStyleInfo(const wchar_t* styleName, void* /*record*/, int32_t* /*value*/) {
    styleRequests.emplace_back(styleName != nullptr ? styleName : L"");
    return gmpi::kResultOk;
}

int32_t EditorHost::sendPinValue(int32_t pinIndex, int32_t byteCount, const void* data, int32_t voice) {
    PinValueSent sent{pinIndex, byteCount, byteCount > 0 ? pinTextFromBytes(data, byteCount) : PinText(),
                      voice};
    pinValues.push_back(sent);
    if (onPinValue)
        onPinValue(sent);
    return gmpi::kResultOk;
}

} // namespace mphost
