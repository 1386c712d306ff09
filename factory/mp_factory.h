// The library's one factory: a registry from (kind, identifier) to a create function. Threads and the
// reference rule for what the factory hands out: the legend and the operations in
// factory/plugin_interfaces.h.
#pragma once

#include <map>
#include <string>

#include "factory/plugin_interfaces.h"

class MpFactory : public gmpi::IMpFactory2 {
public:
    // Returns a new module object with one reference, which belongs to the caller.
    using CreateFunction = gmpi::IMpUnknown* (*)();

    // [load time, then any thread] The singleton; created with an empty registry on first use, deleted
    // at unload. Reached by MP_GetFactory, which stores it in its out-parameter like a reference,
    // though releasing it changes nothing.
    static MpFactory* instance();

    // [load time] Adds (kind, id) -> create unless the key is present; the first registration wins.
    int32_t registerModule(const wchar_t* id, int32_t kind, CreateFunction create);

    // Each operation below runs through gmpi::guardedCall: an exception inside (an allocation that
    // fails, a module's constructor) ends as kResultFailed, never in the host.
    // [any thread] IMpFactory2, IMpFactory and IMpUnknown, all answered with the factory itself.
    int32_t MP_CALL queryInterface(const gmpi::InterfaceId& iid, void** object) override;
    // [any thread] The factory lives until unload: both counts are fixed at 1, so a host may release
    // the factory any number of times, or never.
    int32_t MP_CALL addRef() noexcept override { return 1; }
    int32_t MP_CALL release() noexcept override { return 1; }
    // A processing module works without the host it is handed, so its attachHost result is not
    // checked; an editor that cannot take every service it needs from the host is not created
    // (kResultFailed, *object holding it for the caller to release).
    int32_t MP_CALL createInstance(const wchar_t* id, int32_t kind, gmpi::IMpUnknown* host,
                                   void** object) override;
    int32_t MP_CALL querySdkInformation(int32_t* sdkVersion, int32_t ignored, wchar_t* text) override;
    int32_t MP_CALL createInstance2(const wchar_t* id, int32_t kind, void** object) override;

    virtual ~MpFactory() = default;

private:
    MpFactory() = default;

    struct Key {
        int32_t kind;
        std::wstring id;
        // Kind first, then the identifier code unit by code unit, a prefix ordering first.
        bool operator<(const Key& other) const {
            if (kind != other.kind)
                return kind < other.kind;
            return id < other.id;
        }
    };

    CreateFunction find(const wchar_t* id, int32_t kind) const;
    int32_t create(const wchar_t* id, int32_t kind, gmpi::IMpUnknown* host, bool handOverHost, void** object);
    int32_t writeSdkInformation(int32_t* sdkVersion, wchar_t* text) const;

    std::map<Key, CreateFunction> registry;
};

// Registers a module class at load time: `static const ModuleRegistration r(L"id", 0, &create);`
struct ModuleRegistration {
    ModuleRegistration(const wchar_t* id, int32_t kind, MpFactory::CreateFunction create) {
        MpFactory::instance()->registerModule(id, kind, create);
    }
};
