// What the host offers an editor module. Each service's operation is the first entry of its table
// after the three of IMpUnknown.
//
// Threads and references as in the legend of factory/plugin_interfaces.h. The editor asks for these
// services in its attachHost and calls them on the editor thread, from its window messages and pin
// handling. It keeps the pointers for its lifetime and never releases them: the references the host's
// queryInterface added stay with the host, which must keep the services alive while the editor lives.
#pragma once

#include <cstdint>

#include "factory/plugin_interfaces.h"

namespace gmpi {

class IEditorHost : public IMpUnknown {
public:
    // [editor thread] Hands the host the new value of an editor pin (text: UTF-16, no terminator).
    // data is the editor's, valid during the call only: the host copies what it keeps.
    virtual int32_t MP_CALL sendPinValue(int32_t pinIndex, int32_t byteCount, const void* data,
                                         int32_t voice) = 0;
};

// Kept by the window bases (held as above); none of its operations is called.
class IWindowHost : public IMpUnknown {};

class IStyleHost : public IMpUnknown {
public:
    // [editor thread, at each paint] Lets the host describe a named style; the editor reads neither
    // output. All three pointers are the editor's, valid during the call only.
    virtual int32_t MP_CALL getStyleInfo(const wchar_t* styleName, void* record, int32_t* value) = 0;
};

// The second-generation editor base's editor service.
class IEditorHost2 : public IMpUnknown {
public:
    // [editor thread] As IEditorHost::sendPinValue.
    virtual int32_t MP_CALL sendPinValue(int32_t pinIndex, int32_t byteCount, const void* data,
                                         int32_t voice) = 0;
};

} // namespace gmpi
