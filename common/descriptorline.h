// The descriptor line of an interface type, as the kernel keeps it for each
// interface it describes and as the scanner writes it into its library list:
//   Name:Base:...:IUnknown; B; G, D; MIN, MAX; R;
// the names down the inheritance chain (each base through the first
// implemented type), then
//   B    the type's index in its library, kNotFromIUnknown when the chain does
//        not end in IUnknown (such an interface is never intercepted);
//   G    1 when some own method's offset is not the previous one plus a slot;
//   D    1 when some own method's offset is below the previous one;
//   MIN, MAX  the smallest and largest method-table offsets in bytes of the
//        type's own methods (0, 0 without any); a slot is a pointer wide;
//   R    1 when the interface id is registered under HKCR\Interface.
// A dual interface is measured on its method-table part, whose own methods
// are the ones it declares.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstddef>

namespace vx {

// Writes the line into out (cut to outSize); false when the type's
// attributes cannot be read (out is then empty).
bool BuildDescriptorLine(ITypeInfo* info, bool registered, char* out, size_t outSize);

}  // namespace vx
