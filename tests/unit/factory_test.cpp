// A class object's Release that answers 0 while another thread hands the
// same object out again (a static class object lives on at 0): the object
// stays traced for the thread that got it.
#include <gtest/gtest.h>
#include <windows.h>
#include <unknwn.h>

#include <functional>

#include "checkedread.h"
#include "objects.h"
#include "pool.h"
#include "tracking.h"

using namespace korbin;

namespace {

const CLSID kClass = {0x5e1f8299, 0x1328, 0x11d4, {0xab, 0xc2, 0xb4, 0x74, 0xaf, 0xe9, 0x90, 0x4f}};

class StaticFactory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = ::InterlockedDecrement(&refs);
        if (left == 0 && atZero) atZero();
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    LONG refs = 0;
    std::function<void()> atZero;
};

class FactoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_objects = ObjectModel{};
        PoolFreeAll();
        StartCheckedReads();
    }
    void TearDown() override {
        RestoreMethodTables();
        g_objects = ObjectModel{};
        PoolFreeAll();
        StopCheckedReads();
    }
    // Through the method table, as a client calls: never bound at compile time.
    ULONG Release() {
        IClassFactory* volatile client = &factory;
        return client->Release();
    }
    // What the hook does with a class object the real DLL hands out.
    void HandOut() {
        factory.AddRef();
        InterceptClassObject(kClass, IID_IClassFactory, &factory, nullptr);
    }

    StaticFactory factory;
};

}  // namespace

TEST_F(FactoryTest, HandedOutAgainBetweenTheRealReleaseAndItsExitStaysTraced) {
    HandOut();
    ASSERT_NE(FindLiveInterface(&factory), nullptr);
    // Another thread gets the object the moment the real Release answered 0,
    // before this call's exit is handled.
    factory.atZero = [&] { HandOut(); };
    EXPECT_EQ(Release(), 0u);
    factory.atZero = nullptr;
    EXPECT_NE(FindLiveInterface(&factory), nullptr) << "the other thread's creations would go untraced";
    Release();
    EXPECT_EQ(FindLiveInterface(&factory), nullptr) << "its own Release to 0 still ends it";
    HandOut();
    EXPECT_NE(FindLiveInterface(&factory), nullptr) << "handed out again after its end: traced anew";
}
