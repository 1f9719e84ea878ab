// vxtrace's commands over trace text: export, compare, golden check.
#pragma once

#include <string>

#include "traceexport.h"
#include "tracediff.h"
#include "tracetext.h"

namespace vxtrace {

// The records of a saved trace (or of standard input, "-") in `format`.
int Export(const std::string& traceFile, vx::ExportFormat format);
// Compares two traces: kOk when they match, kDifferent when not, kBadInput.
int Diff(const std::string& a, const std::string& b, const vx::CompareOptions& options);
// Reads a trace to compare; false after saying why it cannot be.
bool ReadComparable(const std::string& path, vx::ComparableTrace* trace);
// Prints how `a` (the expected) and `b` compare; kOk or kDifferent.
int Judge(const vx::ComparableTrace& a, const vx::ComparableTrace& b);

}  // namespace vxtrace
