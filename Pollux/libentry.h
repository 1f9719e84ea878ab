// A type library's entry in "TLBlist.txt": "[path]" and, for every interface
// and dispinterface it names, the id line and the descriptor line.
#pragma once

#include <oaidl.h>

#include <string>

#include "structurefile.h"

namespace pollux {

// The numbers of a descriptor line that come from the method-table offsets

// "Name:Base:...:IUnknown" plus the numeric part (B is the type's index in
// its own library): the kernel's descriptor line, from the same builder.
std::string DescriptorLine(ITypeInfo* info, bool registered);

// The entry of the library at path, from its header; false when it does not load.
bool LibraryEntry(const std::string& path, std::string* entry);

}  // namespace pollux
