// ANSI text inside the engine; wide text at the OLE boundary.
#pragma once

#include <string>

#include "textconv.h"

namespace pollux {

using vx::Narrow;
using vx::Wide;

// A registered path with its environment variables expanded when it begins
// with "%"; false when the result does not fit the walks' 300 bytes.
bool ExpandedPath(const std::string& path, std::string* out);

// Whether the module or file at a registered path holds a type library that loads.
bool TypeLibraryLoads(const std::string& path);

}  // namespace pollux
