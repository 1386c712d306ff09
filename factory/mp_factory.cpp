#include "factory/mp_factory.h"

#include <cwchar>

#include "factory/guarded_call.h"
#include "factory/module_ids.h"

namespace {

MpFactory* singleton = nullptr;

constexpr int32_t kSdkVersion = 30800;
// The build text, a fixed 27 characters. Written from a constant: a string stream would need memory,
// and without it would write a cut text and report success.
constexpr wchar_t kBuildText[] = L"MS Compiler V1900 (Release)";
static_assert(sizeof(kBuildText) / sizeof(wchar_t) == 28, "27 characters and the terminator");

// Deletes the factory, with its registry, when the library unloads.
struct UnloadStep {
    ~UnloadStep() {
        delete singleton;
        singleton = nullptr;
    }
};

} // namespace

MpFactory* MpFactory::instance() {
    // Arranged on first use, so before the first registration: destroyed after it at unload.
    static UnloadStep unload;
    if (singleton == nullptr)
        singleton = new MpFactory();
    return singleton;
}

int32_t MpFactory::registerModule(const wchar_t* id, int32_t kind, CreateFunction create) {
    registry.emplace(Key{kind, std::wstring(id)}, create);
    return gmpi::kResultOk;
}

int32_t MpFactory::queryInterface(const gmpi::InterfaceId& iid, void** object) {
    return gmpi::guardedCall([&] {
        *object = nullptr;
        if (iid == gmpi::kIidFactory2 || iid == gmpi::kIidFactory || iid == gmpi::kIidUnknown) {
            *object = this;
            addRef();
            return gmpi::kResultOk;
        }
        return gmpi::kResultUnsupported;
    });
}

MpFactory::CreateFunction MpFactory::find(const wchar_t* id, int32_t kind) const {
    const auto it = registry.find(Key{kind, std::wstring(id)});
    return it == registry.end() ? nullptr : it->second;
}

int32_t MpFactory::create(const wchar_t* id, int32_t kind, gmpi::IMpUnknown* host, bool handOverHost,
                          void** object) {
    *object = nullptr;
    const CreateFunction create = find(id, kind);
    if (create == nullptr)
        return gmpi::kResultUnsupported;
    gmpi::IMpUnknown* module = create();
    *object = module;
    if (!handOverHost)
        return gmpi::kResultOk;
    // When attachHost fails or throws, *object keeps the new module (see IMpFactory::createInstance).
    auto* legacy = dynamic_cast<IoldSchoolInitialisation*>(module);
    if (legacy != nullptr && legacy->attachHost(host) != gmpi::kResultOk && kind == kEditorModule)
        return gmpi::kResultFailed;
    return gmpi::kResultOk;
}

int32_t MpFactory::createInstance2(const wchar_t* id, int32_t kind, void** object) {
    // Without a host to hand over, only the create function can fail, before *object is set.
    return gmpi::guardedCall([&] { return create(id, kind, nullptr, false, object); });
}

int32_t MpFactory::createInstance(const wchar_t* id, int32_t kind, gmpi::IMpUnknown* host, void** object) {
    return gmpi::guardedCall([&] { return create(id, kind, host, true, object); });
}

int32_t MpFactory::querySdkInformation(int32_t* sdkVersion, int32_t /*ignored*/, wchar_t* text) {
    return gmpi::guardedCall([&] { return writeSdkInformation(sdkVersion, text); });
}

int32_t MpFactory::writeSdkInformation(int32_t* sdkVersion, wchar_t* text) const {
    if (sdkVersion != nullptr)
        *sdkVersion = kSdkVersion;
    if (text != nullptr)
        std::wmemcpy(text, kBuildText, sizeof(kBuildText) / sizeof(wchar_t));
    return gmpi::kResultOk;
}
