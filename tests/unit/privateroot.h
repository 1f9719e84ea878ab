// HKEY_CLASSES_ROOT of this test process redirected to a fresh key of its
// own (RegOverridePredefKey), so registry walks see exactly what a test
// writes; restored and removed at the end.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "events.h"

class PrivateClassesRoot {
public:
    PrivateClassesRoot() {
        static int counter = 0;
        char name[96];
        std::snprintf(name, sizeof name, "Software\\VxScanTest\\%lu-%d", ::GetCurrentProcessId(), ++counter);
        name_ = name;
        ::RegDeleteTreeA(HKEY_CURRENT_USER, name_.c_str());
        ok_ = ::RegCreateKeyExA(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                                nullptr) == ERROR_SUCCESS &&
              ::RegOverridePredefKey(HKEY_CLASSES_ROOT, key_) == ERROR_SUCCESS;
    }
    ~PrivateClassesRoot() {
        ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        if (key_) ::RegCloseKey(key_);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, name_.c_str());
        // Gone only once no other test's root is left under it.
        ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\VxScanTest");
    }
    PrivateClassesRoot(const PrivateClassesRoot&) = delete;
    PrivateClassesRoot& operator=(const PrivateClassesRoot&) = delete;

    bool ok() const { return ok_; }
    // Creates subkey (and its parents); sets a value when valueName or data is given.
    bool Set(const std::string& subkey, const char* valueName = nullptr, const std::string* data = nullptr,
             DWORD type = REG_SZ) {
        HKEY k = nullptr;
        if (::RegCreateKeyExA(key_, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != ERROR_SUCCESS)
            return false;
        LSTATUS s = ERROR_SUCCESS;
        if (data)
            s = ::RegSetValueExA(k, valueName, 0, type, reinterpret_cast<const BYTE*>(data->c_str()),
                                 static_cast<DWORD>(data->size() + 1));
        ::RegCloseKey(k);
        return s == ERROR_SUCCESS;
    }
    bool SetString(const std::string& subkey, const char* valueName, const std::string& data, DWORD type = REG_SZ) {
        return Set(subkey, valueName, &data, type);
    }
    bool Delete(const std::string& subkey) { return ::RegDeleteTreeA(key_, subkey.c_str()) == ERROR_SUCCESS; }

private:
    std::string name_;
    HKEY key_ = nullptr;
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
