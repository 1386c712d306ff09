// The library's one exported entry point.
#include "factory/guarded_call.h"
#include "factory/mp_factory.h"

// [any thread] Stores the factory in *factory and returns kResultOk. The factory does not count
// references and lives until the library unloads: releasing it is allowed and changes nothing.

MP_EXPORT int32_t MP_CALL MP_GetFactory(void** factory) {
    return gmpi::guardedCall(
        [&] { return MpFactory::instance()->queryInterface(gmpi::kIidUnknown, factory); });
}
