// A fresh folder under the temporary folder, removed with its files at the end.
#pragma once

#include <windows.h>
#include <cstdio>
#include <string>

class TempDir {
public:
    TempDir() {
        char base[MAX_PATH];
        ::GetTempPathA(sizeof base, base);
        static int counter = 0;
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%svxtest-%lu-%d-%lu\\", base, ::GetCurrentProcessId(), ++counter,
                      ::GetTickCount());
        path_ = name;
        ::CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~TempDir() {
        WIN32_FIND_DATAA data;
        HANDLE find = ::FindFirstFileA((path_ + "*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                ::DeleteFileA((path_ + data.cFileName).c_str());
            } while (::FindNextFileA(find, &data));
            ::FindClose(find);
        }
        ::RemoveDirectoryA(path_.c_str());
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

inline std::string ReadWhole(const std::string& path) {
    HANDLE f = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return "<missing>";
    std::string text;
    char buf[65536];
    DWORD got = 0;
    while (::ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
    ::CloseHandle(f);
    return text;
}

inline void WriteWhole(const std::string& path, const std::string& text) {
    HANDLE f = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (f != INVALID_HANDLE_VALUE) {
        ::WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        ::CloseHandle(f);
    }
}

inline bool FileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
