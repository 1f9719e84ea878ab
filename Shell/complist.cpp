#include "complist.h"

#include <windows.h>

#include <algorithm>
#include <cctype>

#include "modulelist.h"

namespace shell {

ClassInfo& ClassCollect::Add(const std::string& guid, const std::string& className, const std::string& key) {
    items_.emplace_back(key, ClassInfo{className, guid});
    return items_.back().second;
}

const ClassInfo* ClassCollect::Item(const std::string& key) const {
    for (const auto& [k, item] : items_)
        if (!key.empty() && k == key) return &item;
    return nullptr;
}

bool ClassCollect::Remove(const std::string& key) {
    auto found = std::find_if(items_.begin(), items_.end(), [&](const auto& i) { return !key.empty() && i.first == key; });
    if (found == items_.end()) return false;
    items_.erase(found);
    return true;
}

bool NoCaseLess::operator()(const std::string& a, const std::string& b) const {
    return ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                            static_cast<int>(b.size())) == CSTR_LESS_THAN;
}

std::string UpperCase(std::string text) {
    if (!text.empty()) ::CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::string LowerCase(std::string text) {
    if (!text.empty()) ::CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::string ShortNameOfPath(const std::string& path) {
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

long HookNumberOfStubName(const std::string& fileName) {
    constexpr char kPrefix[] = "Zor#_";
    if (fileName.compare(0, 5, kPrefix) != 0) return 0;
    long number = 0;
    size_t i = 5;
    // Every digit counts: hook 100 is "Zor#_100.dll", as the stub reads it.
    for (; i < fileName.size() && std::isdigit(static_cast<unsigned char>(fileName[i])) && number < 100000000; ++i)
        number = number * 10 + (fileName[i] - '0');
    return i > 5 ? number : 0;
}

ClassEventView OnClassEvent(ComponentDlls& dlls, const std::vector<std::string>& info, bool isLoadable,
                            const std::string& moduleText) {
    ClassEventView view;
    if (info.size() < 4 || info[3].empty()) {
        view.ignored = true;
        return view;
    }
    std::string path = info[2], fileName = info[3];
    long hook = HookNumberOfStubName(fileName);
    if (hook > 0) {
        std::string real = vx::ModulePathOfHook(moduleText, hook);
        // A stub copy whose number has no module line is shown as it stands.
        if (!real.empty()) {
            path = real;
            fileName = ShortNameOfPath(real);
        } else {
            hook = 0;
        }
    }
    std::string className = info[1].empty() ? kNoClassName : info[1];
    view.key = UpperCase(path);
    auto found = dlls.find(path);
    if (found != dlls.end()) {
        found->second.Classes.Add(info[0], className);
        return view;
    }
    view.newDll = true;
    view.hooked = hook > 0;
    if (view.hooked) {
        view.text = " " + UpperCase(fileName);
    } else if (isLoadable) {
        view.text = UpperCase(fileName);
    } else {
        view.text = LowerCase(fileName);
        view.grey = true;
    }
    CompDLLInfo dll;
    dll.LongDllName = path;
    dll.ShortDllName = fileName;
    dll.HookNumber = hook;
    dll.Classes.Add(info[0], className);
    dlls.emplace(path, std::move(dll));
    return view;
}

}  // namespace shell
