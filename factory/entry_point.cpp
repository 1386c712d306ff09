// The library's one exported entry point.
#include "factory/mp_factory.h"

MP_EXPORT int32_t MP_CALL MP_GetFactory(void** factory) {
    return MpFactory::instance()->queryInterface(gmpi::kIidUnknown, factory);
}
