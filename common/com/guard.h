// No C++ exception may leave a COM method: every method body that builds
// strings, vectors or arrays runs inside Guarded, which turns an allocation
// failure into E_OUTOFMEMORY and anything else into E_FAIL.
#pragma once

#include <windows.h>

#include <new>

namespace vxs {

template <typename F>
HRESULT Guarded(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace vxs
