// What the host offers an editor module. Each service's operation is the first entry of its table
// after the three of IMpUnknown.
#pragma once

#include <cstdint>

#include "factory/plugin_interfaces.h"

namespace gmpi {

class IEditorHost : public IMpUnknown {
public:
    // [window thread] Hands the host the new value of an editor pin (text: UTF-16, no terminator).
    virtual int32_t MP_CALL sendPinValue(int32_t pinIndex, int32_t byteCount, const void* data,
                                         int32_t voice) = 0;
};

// Kept by the window bases; none of its operations is called.
class IWindowHost : public IMpUnknown {};

class IStyleHost : public IMpUnknown {
public:
    // [window thread] Lets the host describe a named style; the editor reads neither output.
    virtual int32_t MP_CALL getStyleInfo(const wchar_t* styleName, void* record, int32_t* value) = 0;
};

class IEditorHost2 : public IMpUnknown {
public:
    virtual int32_t MP_CALL sendPinValue(int32_t pinIndex, int32_t byteCount, const void* data,
                                         int32_t voice) = 0;
};

} // namespace gmpi
