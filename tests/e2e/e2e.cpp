#include "e2e.h"

#include <cstdio>

namespace e2e {

std::string ArchName() {
#ifdef _WIN64
    return "x86_64";
#else
    return "i686";
#endif
}

std::string InstallFolder() { return "C:\\vxe2e-" + ArchName() + "\\"; }
std::string SamplePath() { return vxinstall::WinePath(VX_SAMPLE_DLL); }
std::string PlainPath() { return vxinstall::WinePath(VX_PLAIN_DLL); }
std::string ClientPath() { return vxinstall::WinePath(VX_CLIENT_EXE); }
std::string StressPath() { return vxinstall::WinePath(VX_STRESS_EXE); }
std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string ReadFileText(const std::string& path) {
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

bool FileExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Hex(unsigned long value) {
    char b[16];
    std::snprintf(b, sizeof b, "%lx", value);
    return b;
}

HeldMap::HeldMap(const char* name) {
    handle_ = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, korbin::kTraceMapSize, name);
    if (handle_) map_ = static_cast<korbin::TraceMap*>(::MapViewOfFile(handle_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
}

HeldMap::~HeldMap() {
    if (map_) ::UnmapViewOfFile(map_);
    if (handle_) ::CloseHandle(handle_);
}

std::string HeldMap::Ring() const {
    uint32_t total = map_->ringTotal;
    if (total <= korbin::kRingCapacity) return std::string(reinterpret_cast<const char*>(map_->ring), total);
    return "<ring wrapped>";
}

std::vector<std::string> SplitRecords(const std::string& fileText) {
    std::vector<std::string> records;
    if (fileText.empty() || fileText.back() != '\x01') return records;
    std::string text = fileText.substr(0, fileText.size() - 1);
    size_t start = 0;
    while (start < text.size()) {
        size_t next = text.find("\r\n=========", start + 1);
        records.push_back(text.substr(start, next == std::string::npos ? std::string::npos : next - start));
        if (next == std::string::npos) break;
        start = next;
    }
    return records;
}

std::string WithoutTime(const std::string& record) {
    size_t at = record.find("\r\nTime: ");
    if (at == std::string::npos || at + 8 + 24 > record.size()) return record;
    std::string time = record.substr(at + 8, 24);
    static const char* const kDays = "SunMonTueWedThuFriSat";
    static const char* const kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    bool ok = std::string(kDays).find(time.substr(0, 3)) % 3 == 0 &&
              std::string(kMonths).find(time.substr(4, 3)) % 3 == 0 && time[3] == ' ' && time[7] == ' ' &&
              time[10] == ' ' && time[13] == ':' && time[16] == ':' && time[19] == ' ' &&
              record.compare(at + 8 + 24, 2, "\r\n") == 0;
    if (!ok) return record;
    return record.substr(0, at + 8) + "<time>" + record.substr(at + 8 + 24);
}

std::string DllRecord(const char* kind, const std::string& dllPath, DWORD threadId, DWORD processId, int number,
                      const std::string& commandLine, const char* unloadLine) {
    std::string name = dllPath.substr(dllPath.find_last_of('\\') + 1);
    std::string text = "\r\n========= " + std::string(kind) + " DLL: " + name + " ========= TID=" + Hex(threadId) +
                       "h PID=" + Hex(processId) + "h [" + std::to_string(number) + "]\r\nTime: <time>\r\nDLL's path: " +
                       dllPath + "\r\nHost process's command line: " + commandLine + "\r\n";
    if (unloadLine) text += std::string(unloadLine) + "\r\n";
    return text;
}

void TraceTest::SetUp() {
    sample = SamplePath();
    inst.folder = InstallFolder();
    inst.main.modules = {sample};
    inst.advanced.fullTrace = true;
    std::string error;
    ASSERT_TRUE(vxinstall::CopyStage(vxinstall::WinePath(VX_STAGE_DIR), inst.folder, &error)) << error;
    ASSERT_TRUE(vxinstall::WriteSettings(inst, &error)) << error;
    ASSERT_TRUE(vxinstall::WriteAppPath(inst.folder, &error)) << error;
    vxinstall::ClearTraceFiles(inst.folder);
    // The "all" scenario also uses the component without a type library, unhooked.
    ASSERT_TRUE(vxinstall::RegisterComponent(PlainPath(), false, &error)) << error;
    ASSERT_TRUE(vxinstall::HookComponent(inst.folder, 1, sample, &error)) << error;
}

void TraceTest::TearDown() {
    std::string error;
    EXPECT_TRUE(vxinstall::RegisterComponent(sample, false, &error)) << error;
}

void TraceTest::Rewrite() {
    std::string error;
    ASSERT_TRUE(vxinstall::WriteSettings(inst, &error)) << error;
}

}  // namespace e2e
