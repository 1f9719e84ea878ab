// Table-driven registration of the sample servers.
#pragma once

#include "comserver.h"

namespace vxs {

struct ClassRegistration {
    const CLSID* clsid;
    const wchar_t* progid;
    const wchar_t* description;
};

// HKCR\Interface entries for interfaces no type library describes.
struct InterfaceRegistration {
    const IID* iid;
    const wchar_t* name;
    unsigned method_count;  // including IUnknown's three
};

struct ServerRegistration {
    std::span<const ClassRegistration> classes;
    std::span<const InterfaceRegistration> interfaces;
    // The module embeds a type library as resource 1 and registers it.
    bool has_type_library;
};

// Writes the classes, ProgIDs, interfaces and type library of the module.
HRESULT register_server(const ServerRegistration& server);
// Removes them; what is already gone counts as removed.
HRESULT unregister_server(const ServerRegistration& server);

}  // namespace vxs
