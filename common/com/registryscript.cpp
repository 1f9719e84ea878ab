// Parser and writer of registration scripts.
#include "registryscript.h"

#include <cwctype>

#include "comserver.h"
#include "raii.h"

namespace vxs {
namespace {

class Lexer {
public:
    explicit Lexer(const std::wstring& text) : text_(text) {}

    // The next token: a brace, "=", a quoted string (quoted() tells) or a
    // bare word. Empty at the end of the text.
    bool Next(std::wstring* token, std::wstring* error) {
        quoted_ = false;
        token->clear();
        SkipBlanks();
        if (at_ >= text_.size()) return true;
        wchar_t c = text_[at_];
        if (c == L'\'') {
            quoted_ = true;
            for (++at_;; ++at_) {
                if (at_ >= text_.size()) return Fail(L"unterminated quoted text", error);
                if (text_[at_] == L'\n') ++line_;
                if (text_[at_] == L'\'') {
                    if (at_ + 1 < text_.size() && text_[at_ + 1] == L'\'') {
                        token->push_back(L'\'');
                        ++at_;
                        continue;
                    }
                    ++at_;
                    return true;
                }
                token->push_back(text_[at_]);
            }
        }
        // A brace alone is a block; "{...}" glued to text is a key name.
        size_t end = at_;
        while (end < text_.size() && !std::iswspace(text_[end]) && text_[end] != L'=' && text_[end] != L'\'') ++end;
        if (end == at_) end = at_ + 1;  // "=" alone
        *token = text_.substr(at_, end - at_);
        at_ = end;
        return true;
    }
    bool quoted() const { return quoted_; }
    int line() const { return line_; }

    bool Fail(const std::wstring& what, std::wstring* error) const {
        *error = L"line " + std::to_wstring(line_) + L": " + what;
        return false;
    }

private:
    void SkipBlanks() {
        while (at_ < text_.size() && std::iswspace(text_[at_])) {
            if (text_[at_] == L'\n') ++line_;
            ++at_;
        }
    }

    const std::wstring& text_;
    size_t at_ = 0;
    int line_ = 1;
    bool quoted_ = false;
};

class Parser {
public:
    Parser(const std::wstring& text, const ScriptReplacements& replacements, std::wstring* error)
        : lexer_(text), replacements_(replacements), error_(error) {}

    bool Parse(std::vector<ScriptRoot>* roots) {
        if (!Advance()) return false;
        while (!token_.empty()) {
            ScriptRoot root;
            if (token_ == L"HKCR" || token_ == L"HKEY_CLASSES_ROOT") root.root = HKEY_CLASSES_ROOT;
            else if (token_ == L"HKCU" || token_ == L"HKEY_CURRENT_USER") root.root = HKEY_CURRENT_USER;
            else if (token_ == L"HKLM" || token_ == L"HKEY_LOCAL_MACHINE") root.root = HKEY_LOCAL_MACHINE;
            else return lexer_.Fail(L"unknown root \"" + token_ + L"\"", error_);
            if (!Advance()) return false;
            if (!ParseBlock(&root.keys, nullptr)) return false;
            roots->push_back(std::move(root));
        }
        return true;
    }

private:
    bool Advance() { return lexer_.Next(&token_, error_); }
    bool IsBrace(const wchar_t* brace) const { return !lexer_.quoted() && token_ == brace; }

    // "{" (key | val)* "}"; values only where a key holds them.
    bool ParseBlock(std::vector<ScriptKey>* keys, std::vector<ScriptValue>* values) {
        if (!IsBrace(L"{")) return lexer_.Fail(L"\"{\" expected", error_);
        if (!Advance()) return false;
        for (;;) {
            if (token_.empty()) return lexer_.Fail(L"\"}\" missing", error_);
            if (IsBrace(L"}")) return Advance();
            if (!lexer_.quoted() && token_ == L"val") {
                if (!values) return lexer_.Fail(L"a value needs a key", error_);
                if (!Advance()) return false;
                ScriptValue value;
                value.name = token_;
                if (!Advance() || !ParseAssignment(&value)) return false;
                values->push_back(std::move(value));
                continue;
            }
            ScriptKey key;
            if (!ParseKey(&key)) return false;
            keys->push_back(std::move(key));
        }
    }

    bool ParseKey(ScriptKey* key) {
        for (;;) {
            if (lexer_.quoted()) break;
            if (token_ == L"ForceRemove") key->forceRemove = true;
            else if (token_ == L"NoRemove") key->noRemove = true;
            else if (token_ == L"Delete") key->deleteOnInstall = true;
            else break;
            if (!Advance()) return false;
        }
        if (token_.empty() || IsBrace(L"{") || IsBrace(L"}") || IsBrace(L"="))
            return lexer_.Fail(L"key name expected", error_);
        key->name = token_;
        if (!Advance()) return false;
        if (IsBrace(L"=")) {
            key->hasDefault = true;
            if (!ParseAssignment(&key->defaultValue)) return false;
        }
        if (IsBrace(L"{")) return ParseBlock(&key->subkeys, &key->values);
        return true;
    }

    // "=" type 'text'
    bool ParseAssignment(ScriptValue* value) {
        if (!IsBrace(L"=")) return lexer_.Fail(L"\"=\" expected", error_);
        if (!Advance()) return false;
        std::wstring type = token_;
        if (!Advance()) return false;
        if (!lexer_.quoted()) return lexer_.Fail(L"quoted value expected", error_);
        std::wstring text;
        if (!Replace(token_, &text)) return false;
        if (type == L"s") {
            value->type = REG_SZ;
            value->text = text;
        } else if (type == L"d") {
            value->type = REG_DWORD;
            wchar_t* end = nullptr;
            value->number = static_cast<DWORD>(std::wcstoul(text.c_str(), &end, 0));
            if (text.empty() || *end) return lexer_.Fail(L"number expected", error_);
        } else {
            return lexer_.Fail(L"unknown value type \"" + type + L"\"", error_);
        }
        return Advance();
    }

    bool Replace(const std::wstring& in, std::wstring* out) {
        for (size_t i = 0; i < in.size(); ++i) {
            if (in[i] != L'%') {
                out->push_back(in[i]);
                continue;
            }
            size_t end = in.find(L'%', i + 1);
            if (end == std::wstring::npos) return lexer_.Fail(L"unpaired \"%\"", error_);
            std::wstring name = in.substr(i + 1, end - i - 1);
            if (name.empty()) {
                out->push_back(L'%');
            } else {
                auto found = replacements_.find(name);
                if (found == replacements_.end()) return lexer_.Fail(L"unknown %" + name + L"%", error_);
                *out += found->second;
            }
            i = end;
        }
        return true;
    }

    Lexer lexer_;
    const ScriptReplacements& replacements_;
    std::wstring* error_;
    std::wstring token_;
};

HRESULT SetValue(HKEY key, const ScriptValue& value) {
    const wchar_t* name = value.name.empty() ? nullptr : value.name.c_str();
    LSTATUS status;
    if (value.type == REG_DWORD) {
        status = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.number),
                                sizeof value.number);
    } else {
        status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text.c_str()),
                                static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t)));
    }
    return HRESULT_FROM_WIN32(status);
}

HRESULT DeleteTree(HKEY parent, const std::wstring& name) {
    LSTATUS status = RegDeleteTreeW(parent, name.c_str());
    if (status == ERROR_SUCCESS) status = RegDeleteKeyW(parent, name.c_str());
    if (status == ERROR_FILE_NOT_FOUND) return S_OK;
    return HRESULT_FROM_WIN32(status);
}

HRESULT Install(HKEY parent, const ScriptKey& entry) {
    if (entry.deleteOnInstall) return DeleteTree(parent, entry.name);
    if (entry.forceRemove) RETURN_IF_FAILED(DeleteTree(parent, entry.name));
    vx::unique_hkey key;
    LSTATUS status = RegCreateKeyExW(parent, entry.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                     key.put(), nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    if (entry.hasDefault) RETURN_IF_FAILED(SetValue(key.get(), entry.defaultValue));
    for (const ScriptValue& value : entry.values) RETURN_IF_FAILED(SetValue(key.get(), value));
    for (const ScriptKey& sub : entry.subkeys) RETURN_IF_FAILED(Install(key.get(), sub));
    return S_OK;
}

HRESULT Remove(HKEY parent, const ScriptKey& entry) {
    if (entry.deleteOnInstall) return S_OK;
    if (!entry.noRemove) return DeleteTree(parent, entry.name);
    vx::unique_hkey key;
    LSTATUS status = RegOpenKeyExW(parent, entry.name.c_str(), 0, KEY_ALL_ACCESS, key.put());
    if (status == ERROR_FILE_NOT_FOUND) return S_OK;
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    for (const ScriptKey& sub : entry.subkeys) RETURN_IF_FAILED(Remove(key.get(), sub));
    return S_OK;
}

}  // namespace

bool ParseRegistryScript(const std::wstring& text, const ScriptReplacements& replacements,
                         std::vector<ScriptRoot>* roots, std::wstring* error) {
    roots->clear();
    return Parser(text, replacements, error).Parse(roots);
}

HRESULT ApplyRegistryScript(const std::vector<ScriptRoot>& roots, bool install) {
    for (const ScriptRoot& root : roots) {
        for (const ScriptKey& key : root.keys) RETURN_IF_FAILED(install ? Install(root.root, key) : Remove(root.root, key));
    }
    return S_OK;
}

HRESULT UpdateRegistryFromResource(HMODULE module, UINT id, bool install) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
    if (!found) return HRESULT_FROM_WIN32(GetLastError());
    HGLOBAL loaded = LoadResource(module, found);
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    DWORD size = SizeofResource(module, found);
    if (!bytes) return E_FAIL;
    int chars = MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), nullptr, 0);
    std::wstring text(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), text.data(), chars);

    std::wstring path = module_file_name(module);
    if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
    std::vector<ScriptRoot> roots;
    std::wstring error;
    if (!ParseRegistryScript(text, {{L"MODULE", path}}, &roots, &error)) return E_UNEXPECTED;
    return ApplyRegistryScript(roots, install);
}

}  // namespace vxs
