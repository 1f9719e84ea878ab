// The scan's events as _IScannerEvents calls on the connected sinks.
#pragma once

#include "connectionpoint.h"
#include "events.h"

namespace pollux {

class EventFiring final : public ScanEvents {
public:
    explicit EventFiring(vxs::EventSource& source) : source_(source) {}
    void InterfName(const std::string& name) override;
    void CompName(const std::string& path) override;
    void OneMoreClass(const ClassItem& item, bool loadable) override;
    void ProcessedTLibs(long amount) override;
    void ProcessedImportedTLibs(long amount) override;
    void ProcessedClasses(long amount) override;
    void ProcessedInterfaces(long amount) override;

private:
    void FireText(DISPID id, const std::string& text);
    void FireAmount(DISPID id, long amount);
    vxs::EventSource& source_;
};

// The class info array of OneMoreClass: CLSID, name, server path, its file
// name, real path of a hooked class. Owned by the caller.
SAFEARRAY* ClassInfoArray(const ClassItem& item);

}  // namespace pollux
