// The factory and registry, called through raw operation tables with test-only registrations.
#include <gtest/gtest.h>

#include <cwchar>
#include <stdexcept>

#include "factory/mp_factory.h"
#include "host/raw_calls.h"
#include "host/stand_in_processing_host.h"

namespace {

using namespace mphost;

// A minimal module for registry tests: counts references, records the host it was handed.
class ProbeModule : public gmpi::IMpUnknown, public IoldSchoolInitialisation {
public:
    explicit ProbeModule(bool throwOnAttach = false) : throwOnAttach(throwOnAttach) {}
    virtual ~ProbeModule() { ++destroyed; }
    int32_t MP_CALL queryInterface(const gmpi::InterfaceId& iid, void** object) override {
        *object = nullptr;
        if (iid != gmpi::kIidUnknown)
            return gmpi::kResultUnsupported;
        *object = static_cast<gmpi::IMpUnknown*>(this);
        addRef();
        return gmpi::kResultOk;
    }
    int32_t MP_CALL addRef() override { return ++count; }
    int32_t MP_CALL release() override {
        if (--count == 0) {
            delete this;
            return 0;
        }
        return count;
    }
    int32_t MP_CALL attachHost(gmpi::IMpUnknown* host) override {
        attachedHost = host;
        if (throwOnAttach)
            throw std::runtime_error("no host interfaces");
        return gmpi::kResultOk;
    }
    gmpi::IMpUnknown* attachedHost = nullptr;
    static int destroyed;

private:
    int32_t count = 1;
    bool throwOnAttach;
};
int ProbeModule::destroyed = 0;

gmpi::IMpUnknown* createProbe() {
    return new ProbeModule();
}
gmpi::IMpUnknown* createOtherProbe() {
    return nullptr;
}
gmpi::IMpUnknown* createThrowing() {
    throw std::bad_alloc();
}
gmpi::IMpUnknown* createThrowingOnAttach() {
    return new ProbeModule(true);
}

constexpr int32_t kTestKind = 7;

void* factory() {
    static bool registered = [] {
        MpFactory* f = MpFactory::instance();
        f->registerModule(L"Probe", kTestKind, &createProbe);
        f->registerModule(L"Probe", kTestKind, &createOtherProbe); // dropped: first wins
        f->registerModule(L"Null create", kTestKind, nullptr);
        f->registerModule(L"Throws", kTestKind, &createThrowing);
        f->registerModule(L"Throws on attach", kTestKind, &createThrowingOnAttach);
        return true;
    }();
    (void)registered;
    return static_cast<gmpi::IMpUnknown*>(MpFactory::instance());
}

TEST(Factory, SingletonAndReferenceCountingThatDoesNothing) {
    void* f = factory();
    EXPECT_EQ(MpFactory::instance(), MpFactory::instance());
    EXPECT_EQ(raw::addRef(f), 1);
    EXPECT_EQ(raw::release(f), 1);
    EXPECT_EQ(raw::release(f), 1);
    EXPECT_EQ(raw::release(f), 1);
    // Still alive and answering after any number of releases.
    void* same = nullptr;
    EXPECT_EQ(raw::queryInterface(f, gmpi::kIidFactory2, &same), gmpi::kResultOk);
    EXPECT_EQ(same, f);
}

TEST(Factory, QueryInterfaceAnswersItsThreeIdentifiersWithItself) {
    void* f = factory();
    for (const gmpi::InterfaceId& iid : {gmpi::kIidFactory2, gmpi::kIidFactory, gmpi::kIidUnknown}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(raw::queryInterface(f, iid, &out), gmpi::kResultOk);
        EXPECT_EQ(out, f);
    }
    const gmpi::InterfaceId comUnknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    for (const gmpi::InterfaceId& iid : {gmpi::kIidPlugin, gmpi::kIidPlugin2, comUnknown}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(raw::queryInterface(f, iid, &out), gmpi::kResultUnsupported);
        EXPECT_EQ(out, nullptr);
    }
}

TEST(Factory, CreateInstance2FindsExactKeysOnly) {
    void* f = factory();
    void* object = nullptr;
    ASSERT_EQ(raw::createInstance2(f, L"Probe", kTestKind, &object), gmpi::kResultOk);
    ASSERT_NE(object, nullptr);
    // The first registration won: the second create function would have returned null.
    EXPECT_EQ(raw::release(object), 0);

    const wchar_t* misses[] = {L"probe", L"Probe ", L"", L"Prob", L"Probe2"};
    for (const wchar_t* id : misses) {
        object = reinterpret_cast<void*>(1);
        EXPECT_EQ(raw::createInstance2(f, id, kTestKind, &object), gmpi::kResultUnsupported) << id;
        EXPECT_EQ(object, nullptr);
    }
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(raw::createInstance2(f, L"Probe", kTestKind + 1, &object), gmpi::kResultUnsupported);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(raw::createInstance2(f, L"Null create", kTestKind, &object), gmpi::kResultUnsupported);
    EXPECT_EQ(object, nullptr);
}

TEST(Factory, RegisterModuleAlwaysAnswersOk) {
    factory();
    EXPECT_EQ(MpFactory::instance()->registerModule(L"Probe", kTestKind, &createOtherProbe), gmpi::kResultOk);
    void* object = nullptr;
    ASSERT_EQ(raw::createInstance2(factory(), L"Probe", kTestKind, &object), gmpi::kResultOk);
    ASSERT_NE(object, nullptr);
    raw::release(object);
}

TEST(Factory, CreateInstanceHandsTheHostOverThroughTheLegacyFace) {
    SharedMemoryPool pool;
    ProcessingHost host(pool);
    void* object = nullptr;
    ASSERT_EQ(
        raw::createInstance(factory(), L"Probe", kTestKind, static_cast<gmpi::IMpUnknown*>(&host), &object),
        gmpi::kResultOk);
    auto* probe = dynamic_cast<ProbeModule*>(static_cast<gmpi::IMpUnknown*>(object));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe->attachedHost, static_cast<gmpi::IMpUnknown*>(&host));
    EXPECT_EQ(raw::release(object), 0);
}

TEST(Factory, ExceptionsEndAsFailed) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(raw::createInstance2(factory(), L"Throws", kTestKind, &object), gmpi::kResultFailed);
    EXPECT_EQ(object, nullptr);
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(raw::createInstance(factory(), L"Throws", kTestKind, nullptr, &object), gmpi::kResultFailed);
    EXPECT_EQ(object, nullptr);

    // An exception from attachHost leaves the new object with the caller, who releases it.
    SharedMemoryPool pool;
    ProcessingHost host(pool);
    const int destroyedBefore = ProbeModule::destroyed;
    object = nullptr;
    EXPECT_EQ(raw::createInstance(factory(), L"Throws on attach", kTestKind,
                                  static_cast<gmpi::IMpUnknown*>(&host), &object),
              gmpi::kResultFailed);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(raw::release(object), 0);
    EXPECT_EQ(ProbeModule::destroyed, destroyedBefore + 1);
}

TEST(Factory, SdkInformationWritesExactlyTheBuildTextAndTerminator) {
    for (int32_t ignored : {0, 5, -1, 1000}) {
        wchar_t text[40];
        for (wchar_t& c : text)
            c = L'#';
        int32_t version = 0;
        EXPECT_EQ(raw::querySdkInformation(factory(), &version, ignored, text), gmpi::kResultOk);
        EXPECT_EQ(version, 30800);
        EXPECT_EQ(std::wcslen(text), 27u);
        EXPECT_EQ(std::wstring(text), L"MS Compiler V1900 (Release)");
        for (int i = 28; i < 40; ++i)
            EXPECT_EQ(text[i], L'#') << "written beyond the terminator at " << i;
    }
}

} // namespace
