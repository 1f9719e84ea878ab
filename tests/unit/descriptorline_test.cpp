// Descriptor lines of hand-made types, whose offsets and bases a real library
// seldom shows (the scanner's tests read lines of a built library, and the
// kernel's end-to-end tests patch the slots the sample's lines give).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "descriptorline.h"

namespace {

constexpr int P = static_cast<int>(sizeof(void*));  // bytes per method-table slot

std::string Numbers(int b, int g, int d, int low, int high, int r) {
    char text[96];
    std::snprintf(text, sizeof text, "; %d; %d, %d; %d, %d; %d;", b, g, d, low, high, r);
    return text;
}

// A type made by hand: its name, its functions' offsets and its base.
class HandType final : public ITypeInfo {
public:
    HandType(const wchar_t* name, std::vector<int> offsets, HandType* base = nullptr, UINT index = 4)
        : name_(name), offsets_(std::move(offsets)), base_(base), index_(index) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_ITypeInfo)) return *out = nullptr, E_NOINTERFACE;
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the test's stack

    HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** out) override {
        auto* a = new TYPEATTR{};
        a->typekind = TKIND_INTERFACE;
        a->cFuncs = static_cast<WORD>(offsets_.size());
        a->cImplTypes = base_ ? 1 : 0;
        *out = a;
        ++attrs_;
        return S_OK;
    }
    void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* a) override {
        delete a;
        --attrs_;
    }
    HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT i, FUNCDESC** out) override {
        if (i >= offsets_.size()) return TYPE_E_ELEMENTNOTFOUND;
        auto* f = new FUNCDESC{};
        f->oVft = static_cast<SHORT>(offsets_[i]);
        *out = f;
        ++funcs_;
        return S_OK;
    }
    void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* f) override {
        delete f;
        --funcs_;
    }
    HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT i, HREFTYPE* ref) override {
        if (!base_ || i != 0) return TYPE_E_ELEMENTNOTFOUND;
        *ref = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE ref, ITypeInfo** out) override {
        if (!base_ || ref != 1) return TYPE_E_ELEMENTNOTFOUND;
        base_->AddRef();
        *out = base_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID id, BSTR* name, BSTR*, DWORD*, BSTR*) override {
        if (id != MEMBERID_NIL || !name) return E_INVALIDARG;
        *name = name_ ? ::SysAllocString(name_) : nullptr;
        return name_ ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** library, UINT* index) override {
        *library = nullptr;
        *index = index_;
        return S_OK;
    }
    // Nothing else is asked for.
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVarDesc(UINT, VARDESC**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNames(MEMBERID, BSTR*, UINT, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT, INT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR*, UINT, MEMBERID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(PVOID, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, PVOID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, PVOID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR*) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC*) override {}

    // Every reference, attribute block and function description given out came back.
    bool Balanced() const { return refs_ == 0 && attrs_ == 0 && funcs_ == 0; }

private:
    const wchar_t* name_;
    std::vector<int> offsets_;
    HandType* base_;
    UINT index_;
    int refs_ = 0, attrs_ = 0, funcs_ = 0;
};

}  // namespace

TEST(DescriptorLineTest, HandMadeOffsetsAndChainsAndAShortBufferCut) {
    HandType root(L"IUnknown", {0, P, 2 * P}), middle(L"IMiddle", {3 * P}, &root, 1), other(L"IOtherRoot", {0});
    const struct {
        const wchar_t* name;
        std::vector<int> offsets;
        HandType* base;
        UINT index;
        bool registered;
        std::string line;
    } cases[] = {
        // A gap of one slot after the first method: G only.
        {L"IGapped", {3 * P, 5 * P, 6 * P}, &root, 7, false, "IGapped:IUnknown" + Numbers(7, 1, 0, 3 * P, 6 * P, 0)},
        // Going back counts as a gap too; MIN and MAX are the extremes, not the ends.
        {L"IBack", {4 * P, 3 * P, 5 * P}, &root, 2, true, "IBack:IUnknown" + Numbers(2, 1, 1, 3 * P, 5 * P, 1)},
        // No methods of its own: both offsets 0; two bases down to IUnknown.
        {L"IEmpty", {}, &middle, 9, false, "IEmpty:IMiddle:IUnknown; 9; 0, 0; 0, 0; 0;"},
        // A chain that ends elsewhere is never intercepted: B is 999999.
        {L"IDerived", {P, 2 * P}, &other, 3, true, "IDerived:IOtherRoot" + Numbers(999999, 0, 0, P, 2 * P, 1)},
        {L"ILonely", {0, P}, nullptr, 5, false, "ILonely" + Numbers(999999, 0, 0, 0, P, 0)},
        // A name that cannot be read still leaves its place in the chain.
        {nullptr, {3 * P}, &root, 6, false, "UndefinedInterfaceName:IUnknown" + Numbers(6, 0, 0, 3 * P, 3 * P, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        HandType type(c.name, c.offsets, c.base, c.index);
        char text[512];
        EXPECT_TRUE(vx::BuildDescriptorLine(&type, c.registered, text, sizeof text));
        EXPECT_EQ(std::string(text), c.line);
        EXPECT_TRUE(type.Balanced());
    }

    // A short buffer is cut, not overrun.
    HandType named(L"IAVeryLongInterfaceNameIndeed", {3 * P}, &root, 1);
    char text[16];
    std::memset(text, 'x', sizeof text);
    ASSERT_TRUE(vx::BuildDescriptorLine(&named, false, text, 12));
    EXPECT_STREQ(text, "IAVeryLongI");
    EXPECT_EQ(text[12], 'x') << "nothing written past the size given";
    EXPECT_FALSE(vx::BuildDescriptorLine(nullptr, false, text, sizeof text));
    EXPECT_STREQ(text, "");
    EXPECT_TRUE(root.Balanced() && middle.Balanced() && other.Balanced() && named.Balanced());
}
