// The window's side of the trace reader for the trace logic: the record-text
// members over ITraceReader, and one poll of GetNewRecords whose batch is
// freed before the next poll overwrites it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "Ledra.h"
#include "raii.h"
#include "recinfo.h"

namespace shell {

// TraceReaderTexts over an ITraceReader (not owned). A failing call gives
// an empty string and instance number 0.
class ReaderTexts final : public TraceReaderTexts {
public:
    explicit ReaderTexts(ITraceReader* reader) : reader_(reader) {}

    std::string GetMethodName(uint32_t recPtr) override;
    std::string GetClassName(uint32_t recPtr, int32_t* instanceNum) override;
    std::string GetDllShortName(uint32_t recPtr) override;
    std::string GetProcessCommandLine(uint32_t recPtr) override;
    std::string GetFirstRecordString(uint32_t recPtr) override;
    std::string GetNextRecordString() override;
    void Diagn(const std::string& line) override;

private:
    ITraceReader* reader_;
};

// One GetNewRecords call. The reader overwrites the VARIANT it is given
// without clearing it, so each poll clears the previous batch first.
struct NewRecordsBatch {
    vx::unique_variant array;
    long RealLastRecord = 0;
    long NoRecordsBecauseLocked = 0;
    long RecAmNew = 0;

    // The batch's bytes (null and 0 when it holds none); valid until the
    // next Poll.
    const uint8_t* Bytes() const;
    size_t Length() const;

    HRESULT Poll(ITraceReader* reader);
};

}  // namespace shell
