// What happens to the previous distilled trace when a new tracing run starts.
#pragma once

#include "settings.h"

namespace korbin {

// Backs up or deletes the file as the policy says, then creates it anew, empty.
// Rename and delete failures are ignored; the new file is created regardless.
void ApplyFilePolicy(const char* distilledPath, FilePolicy policy);

// "<path without its last four characters><n as at least two digits>.txt";
// false when it does not fit.
bool BackupName(const char* path, unsigned n, char* out, size_t outSize);

}  // namespace korbin
