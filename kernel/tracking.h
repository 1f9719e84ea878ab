// What the handlers hand to the object model: calls on class objects and on
// instances, at entry and at exit.
#pragma once

#include "objects.h"
#include "thunks/thunk.h"

namespace korbin {

// The live entry listing this interface pointer, or nullptr.
InterceptedInterface* FindLiveInterface(const void* pointer);

// At entry the pending call is filled in; at exit it is a copy of the finished call's.
void EnterFactoryCall(InterceptedInterface& entry, const Call& call, PendingCall& pending);
void ExitFactoryCall(InterceptedInterface& entry, const Call& call, const PendingCall& pending);
void EnterInstanceCall(InterceptedInterface& entry, const Call& call, PendingCall& pending);
void ExitInstanceCall(InterceptedInterface& entry, const Call& call, const PendingCall& pending);

}  // namespace korbin
