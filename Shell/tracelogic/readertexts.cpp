// Record texts and batches from the trace reader.
#include "readertexts.h"

#include "textconv.h"

namespace shell {

namespace {

// Takes ownership of a BSTR out-value and gives its ANSI text.
std::string Take(HRESULT hr, BSTR text) {
    vx::unique_bstr owned(text);
    return SUCCEEDED(hr) ? vx::Narrow(owned.get()) : std::string();
}

}  // namespace

std::string ReaderTexts::GetMethodName(uint32_t recPtr) {
    BSTR text = nullptr;
    HRESULT hr = reader_->GetMethodName(static_cast<long>(recPtr), &text);
    return Take(hr, text);
}

std::string ReaderTexts::GetClassName(uint32_t recPtr, int32_t* instanceNum) {
    BSTR text = nullptr;
    long instance = 0;
    HRESULT hr = reader_->GetClassName(static_cast<long>(recPtr), &instance, &text);
    *instanceNum = SUCCEEDED(hr) ? static_cast<int32_t>(instance) : 0;
    return Take(hr, text);
}

std::string ReaderTexts::GetDllShortName(uint32_t recPtr) {
    BSTR text = nullptr;
    HRESULT hr = reader_->GetDllShortName(static_cast<long>(recPtr), &text);
    return Take(hr, text);
}

std::string ReaderTexts::GetProcessCommandLine(uint32_t recPtr) {
    BSTR text = nullptr;
    HRESULT hr = reader_->GetProcessCommandLine(static_cast<long>(recPtr), &text);
    return Take(hr, text);
}

std::string ReaderTexts::GetFirstRecordString(uint32_t recPtr) {
    BSTR text = nullptr;
    HRESULT hr = reader_->GetFirstRecordString(static_cast<long>(recPtr), &text);
    return Take(hr, text);
}

std::string ReaderTexts::GetNextRecordString() {
    BSTR text = nullptr;
    HRESULT hr = reader_->GetNextRecordString(&text);
    return Take(hr, text);
}

void ReaderTexts::Diagn(const std::string& line) {
    vx::unique_bstr text(vx::NewBstr(line));
    reader_->Diagn(text.get());
}

const uint8_t* NewRecordsBatch::Bytes() const {
    if (array.vt != (VT_ARRAY | VT_UI1) || !array.parray || array.parray->cDims != 1) return nullptr;
    return static_cast<const uint8_t*>(array.parray->pvData);
}

size_t NewRecordsBatch::Length() const {
    if (!Bytes()) return 0;
    return array.parray->rgsabound[0].cElements;
}

HRESULT NewRecordsBatch::Poll(ITraceReader* reader) {
    RealLastRecord = NoRecordsBecauseLocked = RecAmNew = 0;
    return reader->GetNewRecords(array.put(), &RealLastRecord, &NoRecordsBecauseLocked, &RecAmNew);
}

}  // namespace shell
