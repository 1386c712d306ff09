// The built library as a host sees it: loaded from its file, entered through its export, and used
// only through raw operation tables.
#include <gtest/gtest.h>

#include "host/plugin_library.h"
#include "host/raw_calls.h"

namespace {

using namespace mphost;

class LoadedLibrary : public ::testing::Test {
protected:
    LoadedLibrary() : library(PluginLibrary::programFolder() + PluginLibrary::fileName()) {}

    void* getFactory() {
        GetFactoryFunction entry = library.getFactory();
        if (entry == nullptr)
            return nullptr;
        void* factory = nullptr;
        EXPECT_EQ(entry(&factory), gmpi::kResultOk);
        return factory;
    }

    PluginLibrary library;
};

TEST_F(LoadedLibrary, ExportsTheEntryPointUnderBothNames) {
    ASSERT_TRUE(library.loaded()) << library.error();
    EXPECT_NE(library.symbol("MP_GetFactory"), nullptr);
#if defined(_WIN32) && !defined(_WIN64)
    // The stdcall-decorated name points at the same function.
    EXPECT_EQ(library.symbol("_MP_GetFactory@4"), library.symbol("MP_GetFactory"));
#endif
}

TEST_F(LoadedLibrary, EntryPointReturnsTheSameFactoryEachTime) {
    ASSERT_TRUE(library.loaded()) << library.error();
    void* first = getFactory();
    void* second = getFactory();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    void* factory2 = nullptr;
    EXPECT_EQ(raw::queryInterface(first, gmpi::kIidFactory2, &factory2), gmpi::kResultOk);
    EXPECT_EQ(factory2, first);
    void* plugin = reinterpret_cast<void*>(1);
    EXPECT_EQ(raw::queryInterface(first, gmpi::kIidPlugin, &plugin), gmpi::kResultUnsupported);
    EXPECT_EQ(plugin, nullptr);
    EXPECT_EQ(raw::addRef(first), 1);
    EXPECT_EQ(raw::release(first), 1);
}

TEST_F(LoadedLibrary, ReportsItsBuild) {
    ASSERT_TRUE(library.loaded()) << library.error();
    void* factory = getFactory();
    ASSERT_NE(factory, nullptr);
    wchar_t text[32];
    for (wchar_t& c : text)
        c = L'#';
    int32_t version = 0;
    EXPECT_EQ(raw::querySdkInformation(factory, &version, 0, text), gmpi::kResultOk);
    EXPECT_EQ(version, 30800);
    EXPECT_EQ(std::wstring(text), L"MS Compiler V1900 (Release)");
    for (int i = 28; i < 32; ++i)
        EXPECT_EQ(text[i], L'#');
}

TEST_F(LoadedLibrary, UnknownModulesAreUnsupported) {
    ASSERT_TRUE(library.loaded()) << library.error();
    void* factory = getFactory();
    ASSERT_NE(factory, nullptr);
    const struct {
        const wchar_t* id;
        int32_t kind;
    } misses[] = {{L"VU Reridezizi2D", 1},
                  {L"VU Reridezizi2D", 2},
                  {L"vedivizor Arirezudez3", 0},
                  {L"Vedivizor Arirezudez3 ", 0},
                  {L"", 0},
                  {L"Vedivizor Arirezudez3", 3}};
    for (const auto& miss : misses) {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(raw::createInstance2(factory, miss.id, miss.kind, &object), gmpi::kResultUnsupported);
        EXPECT_EQ(object, nullptr);
        object = reinterpret_cast<void*>(1);
        EXPECT_EQ(raw::createInstance(factory, miss.id, miss.kind, nullptr, &object),
                  gmpi::kResultUnsupported);
        EXPECT_EQ(object, nullptr);
    }
}

} // namespace
