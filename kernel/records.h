// The record texts. Each writer is one record on both streams (each when on);
// the callers decide when a record is due.
#pragma once

#include "objects.h"
#include "thunks/thunk.h"

namespace korbin {

struct HookedDll;

void WriteCreateRecord(const ClassRecord& cls, const InstanceRecord& instance);
void WriteDestroyRecord(const ClassRecord& cls, const InstanceRecord& instance);
// ENTER remembers the parameters' first words in the pending call for the EXIT.
void WriteEnterRecord(const InterceptedInterface& entry, const Call& call, PendingCall& pending);
void WriteExitRecord(const InterceptedInterface& entry, const Call& call, const PendingCall& pending);
// "LOAD" or "UNLOAD"; the unload record adds whether every pointer was released.
void WriteDllRecord(const char* kind, const HookedDll& dll, bool unloadLine);
// The final report and its closing record.
void WriteFinalReport();

}  // namespace korbin
