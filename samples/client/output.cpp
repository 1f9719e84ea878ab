#include "output.h"

#include <cstdarg>
#include <cstdio>

namespace vxc {

std::string format(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, pattern, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, pattern, again);
    va_end(again);
    return text;
}

std::string hr_text(HRESULT hr) { return format("0x%08lx", static_cast<unsigned long>(hr)); }

std::string result_or_empty(HRESULT hr, const std::string& text) { return SUCCEEDED(hr) ? text : ""; }

std::string call_line(const std::string& call, HRESULT hr, const std::string& result) {
    std::string line = call + " hr=" + hr_text(hr);
    if (!result.empty()) line += " -> " + result;
    return line;
}

void print(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    // Flushed per line: a crash must not lose what was already done.
    std::fflush(stdout);
}

void complain(const std::string& message) {
    std::fprintf(stderr, "vxclient: %s\n", message.c_str());
    std::fflush(stderr);
}

std::string utf8(const wchar_t* text, size_t length) {
    if (!text || length == 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr,
                            nullptr);
    return out;
}

std::string utf8(const std::wstring& text) { return utf8(text.data(), text.size()); }

std::string quoted(BSTR text) {
    if (!text) return "null";
    return "\"" + utf8(text, SysStringLen(text)) + "\"";
}

std::string real(double value) { return format("%g", value); }

std::string boolean(VARIANT_BOOL value) {
    if (value == VARIANT_TRUE) return "true";
    if (value == VARIANT_FALSE) return "false";
    return format("%d", value);
}

std::string variant_text(const VARIANT& value) {
    switch (V_VT(&value)) {
    case VT_EMPTY:
        return "EMPTY";
    case VT_I2:
        return format("I2:%d", V_I2(&value));
    case VT_I4:
        return format("I4:%ld", V_I4(&value));
    case VT_R8:
        return "R8:" + real(V_R8(&value));
    case VT_BSTR:
        return "BSTR:" + quoted(V_BSTR(&value));
    case VT_BOOL:
        return "BOOL:" + boolean(V_BOOL(&value));
    case VT_ERROR:
        return "ERROR:" + hr_text(V_ERROR(&value));
    default:
        return format("VT%u", static_cast<unsigned>(V_VT(&value)));
    }
}

std::string guid_string(REFGUID guid) {
    wchar_t text[40];
    if (StringFromGUID2(guid, text, 40) == 0) return "?";
    return utf8(std::wstring(text));
}

void write_timing(const char* label, double microseconds) {
    char path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("VXCLIENT_TIMING", path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    if (FILE* timing = std::fopen(path, "a")) {
        std::fprintf(timing, *label ? "%s %.3f\n" : "%s%.3f\n", label, microseconds);
        std::fclose(timing);
    }
}

}  // namespace vxc
