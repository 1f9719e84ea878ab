// The real DLL of a hook as its class registration remembers it: the hook
// redirects each class's InprocServer32 to the stub copy and keeps the real
// path beside it in the value TypeLib.
#pragma once

#include <cstddef>

namespace korbin {

// The TypeLib value of the first class whose server is the stub copy of
// `hookNumber` in `installFolder` (ending in a backslash); false when no class
// is redirected there or the path does not fit.
bool RealPathFromRegistration(const char* installFolder, unsigned long hookNumber, char* out, size_t outSize);

}  // namespace korbin
