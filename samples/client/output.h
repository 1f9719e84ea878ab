// What vxclient prints: one line per call, only values that every run
// computes the same way (no pointers, thread ids or times), so that the
// output is identical whether or not the component is traced.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>

namespace vxc {

std::string format(const char* pattern, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));

// "<call> hr=0x%08lx", then " -> <result>" when result is not empty.
std::string call_line(const std::string& call, HRESULT hr, const std::string& result = {});
void print(const std::string& line);
// text after a successful call, nothing after a failed one.
std::string result_or_empty(HRESULT hr, const std::string& text);
// The same through stderr, for failures that end the run.
void complain(const std::string& message);

std::string hr_text(HRESULT hr);
std::string utf8(const wchar_t* text, size_t length);
std::string utf8(const std::wstring& text);
// "null" for a null BSTR, else the text in double quotes.
std::string quoted(BSTR text);
std::string real(double value);
std::string boolean(VARIANT_BOOL value);
// "<type>:<value>", e.g. I4:5, R8:2.5, BSTR:"x", BOOL:true, EMPTY.
std::string variant_text(const VARIANT& value);
// For the benchmarks, which time the calls alone (without the process's
// start and end): "<label> <microseconds>" appended to the file that the
// environment variable VXCLIENT_TIMING names, "<microseconds>" without a label.
void write_timing(const char* label, double microseconds);
// Registry form with braces, upper case.
std::string guid_string(REFGUID guid);

}  // namespace vxc
