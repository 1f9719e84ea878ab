// What the scan engine's tests share: HKEY_CLASSES_ROOT of this test process
// redirected to a fresh key of its own (RegOverridePredefKey), so registry
// walks see exactly what a test writes, restored and removed at the end; the
// scan's events as lines; list texts.
#pragma once

#include <cstdio>
#include <string>
#include <vector>
#include <windows.h>

#include "events.h"
#include "raii.h"

class PrivateClassesRoot {
public:
    PrivateClassesRoot() {
        static int counter = 0;
        char name[96];
        std::snprintf(name, sizeof name, "Software\\VxScanTest\\%lu-%d", ::GetCurrentProcessId(), ++counter);
        name_ = name;
        ::RegDeleteTreeA(HKEY_CURRENT_USER, name_.c_str());
        ok_ = ::RegCreateKeyExA(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.put(),
                                nullptr) == ERROR_SUCCESS &&
              ::RegOverridePredefKey(HKEY_CLASSES_ROOT, key_.get()) == ERROR_SUCCESS;
    }
    ~PrivateClassesRoot() {
        ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        key_.reset();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, name_.c_str());
        // Gone only once no other test's root is left under it.
        ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\VxScanTest");
    }
    PrivateClassesRoot(const PrivateClassesRoot&) = delete;
    PrivateClassesRoot& operator=(const PrivateClassesRoot&) = delete;

    bool ok() const { return ok_; }
    // Creates subkey (and its parents).
    bool Set(const std::string& subkey) { return static_cast<bool>(Create(subkey)); }
    bool SetString(const std::string& subkey, const char* valueName, const std::string& data, DWORD type = REG_SZ) {
        vx::unique_hkey k = Create(subkey);
        return k && ::RegSetValueExA(k.get(), valueName, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                                     static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
    }

private:
    vx::unique_hkey Create(const std::string& subkey) {
        vx::unique_hkey k;
        ::RegCreateKeyExA(key_.get(), subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.put(), nullptr);
        return k;
    }

    std::string name_;
    vx::unique_hkey key_;
    bool ok_ = false;
};

// Every event of a scan as one line of text.
class RecordedEvents : public pollux::ScanEvents {
public:
    void InterfName(const std::string& name) override { log.push_back("InterfName " + name); }
    void CompName(const std::string& path) override { log.push_back("CompName " + path); }
    void OneMoreClass(const pollux::ClassItem& item, bool loadable) override {
        log.push_back("OneMoreClass " + item.clsid + " " + item.name + " | " + item.serverPath + " | " +
                      item.realPath + (loadable ? " loadable" : " not loadable"));
    }
    void ProcessedTLibs(long amount) override { log.push_back("ProcessedTLibs " + std::to_string(amount)); }
    void ProcessedImportedTLibs(long amount) override { log.push_back("ProcessedImportedTLibs " + std::to_string(amount)); }
    void ProcessedClasses(long amount) override { log.push_back("ProcessedClasses " + std::to_string(amount)); }
    void ProcessedInterfaces(long amount) override { log.push_back("ProcessedInterfaces " + std::to_string(amount)); }

    // The lines that begin with prefix.
    std::vector<std::string> Only(const std::string& prefix) const {
        std::vector<std::string> lines;
        for (const std::string& l : log)
            if (l.rfind(prefix, 0) == 0) lines.push_back(l);
        return lines;
    }
    std::vector<std::string> log;
};

// The lists' texts both list tests write out: a loading group's bar, a
// group's that does not load, and a type-library change list of no changes.
inline const std::string kPlus(80, '+');
inline const std::string kMinus(80, '-');
inline const std::string kNoTlbChanges =
    "\r\n--- New TypeLibs ---\r\n\r\n--- New Interfaces without TypeLibs ---"
    "\r\n\r\n--- Deleted TypeLibs ---\r\n\r\n--- Deleted Interfaces without TypeLibs ---";
