// HRESULTs by name: the symbolic names a COM developer meets (COM, OLE,
// automation, registry, class, storage, RPC, monikers, connection points, and
// Win32 errors carried as HRESULT_FROM_WIN32), their facility, and the
// system's message text. Shared by vxtrace's exports and the window.
#pragma once

#include <cstdint>
#include <string>

namespace vx {

// "DISP_E_DIVBYZERO", "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)"; empty for a
// code no table knows.
std::string ResultName(int32_t hr);

constexpr unsigned ResultFacility(int32_t hr) { return (static_cast<uint32_t>(hr) >> 16) & 0x1FFF; }
constexpr unsigned ResultCode(int32_t hr) { return static_cast<uint32_t>(hr) & 0xFFFF; }
constexpr bool ResultFailed(int32_t hr) { return hr < 0; }

// "FACILITY_DISPATCH"; the number for a facility without a name.
std::string FacilityName(unsigned facility);

// The system's text for the code (FormatMessage), on one line; empty when the
// system has none.
std::string SystemMessage(int32_t hr);
// The same for a Win32 error code; "error <n>" when the system has no text.
std::string ErrorText(unsigned long error);

}  // namespace vx
