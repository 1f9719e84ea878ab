// Broken: its factory exists but creation always fails, as if out of memory.
#include "classes.h"

namespace vxsample {

HRESULT Broken_CreateInstance(REFIID, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return E_OUTOFMEMORY;
}

}  // namespace vxsample
