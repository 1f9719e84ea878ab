// Values as trace text: scalars in decimal and hexadecimal, strings cut,
// dates in calendar form, pointers followed one or two levels, VARIANTs,
// arrays, records, unions and enumerations. Every read of client memory goes
// through the checked reader; an unreadable byte stops the value.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstddef>
#include <cstdint>

namespace korbin {

struct TypeDetails;

// Where formatted pieces go: a piece starting with 0x08 continues the line.
class Sink {
public:
    virtual void Piece(const char* text) = 0;
    virtual void Indent(int delta) = 0;

protected:
    ~Sink() = default;
};

// Writes the value whose bytes are at `address` (client memory). False when
// some memory could not be read: what was written stays, the rest is left out.
bool FormatValue(Sink& sink, VARTYPE code, const TypeDetails* details, const void* address);

// "%d/%d/%d %d:%d:%d %s" of an automation date; empty below 1.
void DateText(double date, char* out, size_t outSize);

// A client's wide string, at most capacity - 1 characters: *length of them
// read; false when its memory stopped being readable first.
bool ReadWideText(const wchar_t* text, wchar_t* buffer, size_t capacity, size_t* length);

// Text for a GUID: "{IID_NULL}", "{<name>}" when an interface or a class of
// that id has a name, else the id string.
void InterfaceIdText(REFIID iid, char* out, size_t outSize);

}  // namespace korbin
