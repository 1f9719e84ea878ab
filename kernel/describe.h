// What the kernel knows of an interface: its name and its methods in
// method-table order, from the standard OLE library, the hooked DLLs' own
// type libraries, the registry, the structure file or, last, the library of
// standard interfaces; and the type names shown in records.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "objects.h"

namespace korbin {

// Slots of the methods every traced table begins with: IUnknown's three,
// then, on dual and dispatch tables, IDispatch's four.
enum : uint32_t {
    kSlotQueryInterface = 0,
    kSlotAddRef = 1,
    kSlotRelease = 2,
    kSlotGetTypeInfoCount = 3,
    kSlotGetTypeInfo = 4,
    kSlotGetIDsOfNames = 5,
    kSlotInvoke = 6,
};

// A type code as the kernel encodes it: the base type and its flags, with
// the number of VT_PTR steps to it (0 to 15) in kPointerLevels.
constexpr VARTYPE kPointerLevels = 0x0F00;
constexpr VARTYPE EncodedType(VARTYPE base, unsigned pointerLevels) {
    return static_cast<VARTYPE>((base & ~kPointerLevels) | (pointerLevels << 8));
}

// What the type information says beyond the type code.
struct TypeDetails {
    ITypeInfo* user;           // VT_USERDEFINED: the referenced type, held for the kernel's life
    VARTYPE aliased;           // an alias (REFIID, HWND...): its type, resolved once, not per call
    TypeDetails* aliasedDetails;
    VARTYPE element;           // VT_CARRAY, VT_SAFEARRAY: the element's type code
    TypeDetails* elementDetails;
    uint32_t elementSize;
    uint16_t dimensions;       // VT_CARRAY: up to two are shown
    SAFEARRAYBOUND bounds[2];
};

// Details of a type description (pointer levels folded away), or nullptr when
// the base type needs none. Pool memory.
TypeDetails* BuildDetails(ITypeInfo* owner, const TYPEDESC& type);

// Bytes a value of this type takes (the size rule of the records).
uint32_t ValueSize(VARTYPE code, const TypeDetails* details);

struct InterfaceDescription {
    char name[256];
    const char* line;          // the descriptor line (pool memory), or nullptr without a type description
    bool neverHooked;          // its chain does not end in IUnknown: named, never intercepted
    bool described;            // a type description was found (else IUnknown's methods stand in)
    uint32_t largestOffset;    // index * 4 of the last method
    TableKind kind;
    uint32_t methodCount;
    uint32_t functionCount;
    MethodDesc* methods;       // pool memory
};

// False when nothing at all is known of the interface (no name, no description).
// Cached per interface id until ForgetDescriptions.
bool DescribeInterface(REFIID iid, HookedDll* dll, InterfaceDescription& out);
void ForgetDescriptions();

// Methods of an interface type description over its bases; false when it has none.
bool CollectMethods(ITypeInfo* info, InterfaceDescription& out);

// The default value of HKEY_CLASSES_ROOT\CLSID\{clsid} when it is a string.
bool RegisteredClassName(REFCLSID clsid, char* out, size_t outSize);

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", the registry form of a GUID.
void GuidString(REFGUID guid, char* out, size_t outSize);

// Type code of a type description: base type, VT_PTR levels in 0x0F00.
VARTYPE EncodeType(const TYPEDESC& type);
// "\bVT_POINTER VT_I4" and the like: one piece continuing the line.
void TypeName(VARTYPE code, char* out, size_t outSize);

// The interface the class's coclass marks [default], from the DLL's type
// library; IID_NULL when there is none.
IID DefaultInterfaceOf(REFCLSID clsid, ITypeLib* library);

struct SupportedInterfaceList {
    SupportedInterface* items;
    int count;
};
// Interfaces of the structure file the object answers (QueryInterface, then
// Release), each named by its descriptor line.
SupportedInterfaceList FindSupportedInterfaces(const char* structureFile, IUnknown* object);

}  // namespace korbin
