// The process's state block and the trace map, mapped while the kernel is
// in the process. Another load of the kernel in the same process finds the
// block and the map through it; what a map found in use holds decides its
// owner (TraceStore::SetUpMaps).
#pragma once

#include <windows.h>

#include <cstddef>

#include "layout.h"
#include "raii.h"

namespace korbin {

// Room for the names the kernel gives its shared sections (the store's map
// name and block prefix, and what is built from them).
constexpr size_t kSectionNameSize = 64;

class MapSession {
public:
    ProcessBlock* block() const { return block_; }
    TraceMap* map() const { return map_; }

    enum class BlockState { kFailed, kReused, kNew };
    // The state block named `prefix` and the process id. kReused: another
    // load's, with its map (none when that load refused the one it found);
    // kNew: zeroed, no map yet.
    BlockState OpenBlock(const char* prefix);
    // The trace map named `name`, mapped but not yet in use; nullptr on
    // failure. `existed`: another process made it.
    TraceMap* OpenMap(const char* name, bool* existed);
    // The map from OpenMap taken into use (the block names it once it is
    // set up), or left and unmapped.
    void UseMap();
    void LeaveMap();
    // Unmaps both views and closes both handles.
    void Release();

private:
    ProcessBlock* block_ = nullptr;
    TraceMap* map_ = nullptr;
    vx::unique_handle blockHandle_;
    vx::unique_view blockView_;
    vx::unique_handle mapHandle_;
    vx::unique_view mapView_;  // empty when the map's view came with a reused block
};

}  // namespace korbin
