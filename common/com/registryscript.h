// Registration scripts: a server's registry entries as a small text resource
// of type "REGISTRY", applied by DllRegisterServer and removed by
// DllUnregisterServer. The syntax:
//
//   HKCR
//   {
//       My.Class.1 = s 'My Class'
//       {
//           CLSID = s '{...}'
//       }
//       NoRemove CLSID
//       {
//           ForceRemove {...} = s 'My Class'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//           }
//       }
//   }
//
// Roots: HKCR, HKCU, HKLM. Values: s 'text' (REG_SZ) or d 'number' (REG_DWORD);
// '' inside quotes is one quote. ForceRemove deletes a key before writing it;
// NoRemove keeps a key on removal (its subkeys are still removed); Delete
// removes a key on installation. %NAME% in a value is replaced from the
// caller's table, %% is one percent sign.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace vxs {

struct ScriptValue {
    std::wstring name;  // empty: the key's default value
    DWORD type = REG_SZ;
    std::wstring text;  // REG_SZ
    DWORD number = 0;   // REG_DWORD
};

struct ScriptKey {
    std::wstring name;
    bool forceRemove = false;
    bool noRemove = false;
    bool deleteOnInstall = false;
    bool hasDefault = false;
    ScriptValue defaultValue;
    std::vector<ScriptValue> values;
    std::vector<ScriptKey> subkeys;
};

struct ScriptRoot {
    HKEY root = nullptr;
    std::vector<ScriptKey> keys;
};

using ScriptReplacements = std::map<std::wstring, std::wstring>;

// Parses a script; false with a message (naming the line) on a syntax error
// or an unknown replacement.
bool ParseRegistryScript(const std::wstring& text, const ScriptReplacements& replacements,
                         std::vector<ScriptRoot>* roots, std::wstring* error);

// Writes (install) or removes the entries below the given roots. Removing
// what is already gone is success.
HRESULT ApplyRegistryScript(const std::vector<ScriptRoot>& roots, bool install);

// Loads resource `id` of type "REGISTRY" from the module (UTF-8 or ANSI
// text), replaces %MODULE% by the module's full path and applies or removes it.
HRESULT UpdateRegistryFromResource(HMODULE module, UINT id, bool install);

}  // namespace vxs
