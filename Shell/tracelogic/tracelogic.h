// The trace side of the main window without the window: record intake, the
// trace tree model, event details, saved traces, the final report, find and
// copy, and the tracing run's states. The window includes this header.
#pragma once

#include "details.h"
#include "finalreport.h"
#include "findcopy.h"
#include "recinfo.h"
#include "tracefile.h"
#include "tracerecords.h"
#include "tracetree.h"
#include "traceview.h"
#include "tracingrun.h"
#include "readertexts.h"
