#include "factory/mp_factory.h"

#include <locale>
#include <sstream>

namespace {

MpFactory* singleton = nullptr;

constexpr int32_t kSdkVersion = 30800;
constexpr int kCompilerVersion = 1900;

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
    *object = nullptr;
    if (iid == gmpi::kIidFactory2 || iid == gmpi::kIidFactory || iid == gmpi::kIidUnknown) {
        *object = this;
        addRef();
        return gmpi::kResultOk;
    }
    return gmpi::kResultUnsupported;
}

MpFactory::CreateFunction MpFactory::find(const wchar_t* id, int32_t kind) const {
    const auto it = registry.find(Key{kind, std::wstring(id)});
    return it == registry.end() ? nullptr : it->second;
}

int32_t MpFactory::createInstance2(const wchar_t* id, int32_t kind, void** object) {
    *object = nullptr;
    try {
        const CreateFunction create = find(id, kind);
        if (create == nullptr)
            return gmpi::kResultUnsupported;
        *object = create();
        return gmpi::kResultOk;
    } catch (...) {
        return gmpi::kResultFailed;
    }
}

int32_t MpFactory::createInstance(const wchar_t* id, int32_t kind, gmpi::IMpUnknown* host, void** object) {
    *object = nullptr;
    try {
        const CreateFunction create = find(id, kind);
        if (create == nullptr)
            return gmpi::kResultUnsupported;
        gmpi::IMpUnknown* module = create();
        *object = module;
        // When attachHost throws, *object keeps the new module (see IMpFactory::createInstance).
        if (auto* legacy = dynamic_cast<IoldSchoolInitialisation*>(module))
            legacy->attachHost(host);
        return gmpi::kResultOk;
    } catch (...) {
        return gmpi::kResultFailed;
    }
}

int32_t MpFactory::querySdkInformation(int32_t* sdkVersion, int32_t /*ignored*/, wchar_t* text) {
    if (sdkVersion != nullptr)
        *sdkVersion = kSdkVersion;
    std::wostringstream composed;
    composed.imbue(std::locale::classic());
    composed << L"MS Compiler V" << kCompilerVersion << L" (Release)";
    if (text != nullptr) {
        const std::wstring result = composed.str();
        result.copy(text, result.size());
        text[result.size()] = L'\0';
    }
    return gmpi::kResultOk;
}
