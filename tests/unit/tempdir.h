// A fresh folder under the temporary folder, removed with its files at the end,
// and the file and number helpers the unit and end-to-end tests share.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <cstdio>
#include <string>

#include "raii.h"
#include "textconv.h"

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
    std::string text;
    return vx::ReadWholeFile(path, &text) ? text : "<missing>";
}

// Writes `text` as the whole file; a failure fails the test.
inline void WriteWhole(const std::string& path, const std::string& text) {
    vx::unique_file f(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    EXPECT_TRUE(f && ::WriteFile(f.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                written == text.size())
        << "cannot write " << path;
}

inline bool FileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A number as the records write thread and process ids: "%lx".
inline std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "%lx", value);
    return text;
}
