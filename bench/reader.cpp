// Records per second through the trace reader in static mode, over a large
// prepared trace: descriptors only, then with every record's lines fetched
// through GetFirstRecordString/GetNextRecordString, as the main window does.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "raii.h"
#include "tracereader.h"

namespace {

constexpr int kRecords = 50000;

std::string MakeTrace(const std::string& path) {
    std::string text;
    char line[256];
    for (int i = 1; i <= kRecords; ++i) {
        std::snprintf(line, sizeof line,
                      "\r\n*** Serial# of call: %d.7 ***  TID=1ch PID=20h [%d]\r\nClass: Bench Class (instance# 1)\r\n"
                      "Interface: ICalc (dual)\r\nMethod: VT_HRESULT Add (\r\n               [in]  a=2 (2h)  (VT_I4),\r\n"
                      "               [in]  b=3 (3h)  (VT_I4),\r\n               [out]  total=0x0019fe2c  (VT_POINTER VT_I4) );\r\n",
                      i, i);
        text += line;
    }
    text += '\x01';
    vx::unique_file file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return path;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER freq;
    ::QueryPerformanceFrequency(&freq);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(freq.QuadPart);
}

// One static pass; the records delivered and the lines read.
long Pass(ITraceReader* reader, const std::wstring& path, bool withText, long* lines) {
    reader->put_Mode(3);
    reader->put_Mode(1);
    vx::unique_bstr wide(::SysAllocString(path.c_str()));
    reader->put_StaticTraceFilePath(wide.get());
    long delivered = 0;
    *lines = 0;
    for (;;) {
        vx::unique_variant records;
        long real = 0, locked = 0, count = 0;
        reader->GetNewRecords(&records, &real, &locked, &count);
        if (count <= 0) break;
        delivered += count;
        if (!withText) continue;
        vx::safearray_access<const unsigned char> bytes(records.parray);
        if (!bytes.data()) continue;
        for (long i = 0; i < count; ++i) {
            long recPtr = 0;
            std::memcpy(&recPtr, bytes.data() + 20 * i + 8, 4);
            vx::unique_bstr first;
            reader->GetFirstRecordString(recPtr, first.put());
            ++*lines;
            for (;;) {
                vx::unique_bstr next;
                reader->GetNextRecordString(next.put());
                if (!next) break;
                ++*lines;
            }
        }
    }
    return delivered;
}

}  // namespace

int main() {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    std::string path = MakeTrace(std::string(temp) + "vexilo-bench-trace.txt");
    {
        vx::com_ptr<ITraceReader> reader;
        if (FAILED(ledra::CreateTraceReader(IID_ITraceReader, reader.put_void()))) return 1;
        std::wstring wide(path.begin(), path.end());
        for (bool withText : {false, true}) {
            LARGE_INTEGER start, end;
            long lines = 0;
            ::QueryPerformanceCounter(&start);
            long delivered = Pass(reader.get(), wide, withText, &lines);
            ::QueryPerformanceCounter(&end);
            double seconds = Seconds(start, end);
            std::printf("static, %s: %ld records in %.3f s = %.0f records/s%s\n",
                        withText ? "with every line fetched" : "descriptors only", delivered, seconds,
                        delivered / seconds, withText ? (" (" + std::to_string(lines) + " lines)").c_str() : "");
        }
    }
    ::DeleteFileA(path.c_str());
    ::CoUninitialize();
    return 0;
}
