#include "mapsession.h"

#include <cstdio>
#include <cstring>

namespace korbin {

MapSession::BlockState MapSession::OpenBlock(const char* prefix) {
    char name[128];
    std::snprintf(name, sizeof name, "%s%.8lx", prefix, ::GetCurrentProcessId());
    vx::unique_handle handle(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                  sizeof(ProcessBlock), name));
    if (!handle) return BlockState::kFailed;
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    vx::unique_view view(::MapViewOfFile(handle.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!view) return BlockState::kFailed;
    block_ = static_cast<ProcessBlock*>(view.get());
    blockHandle_ = std::move(handle);
    blockView_ = std::move(view);
    if (existed) {
        map_ = block_->map;
        return BlockState::kReused;
    }
    std::memset(block_, 0, sizeof *block_);
    return BlockState::kNew;
}

TraceMap* MapSession::OpenMap(const char* name, bool* existed) {
    vx::unique_handle handle(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kTraceMapSize,
                                                  name));
    if (!handle) return nullptr;
    *existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    vx::unique_view view(::MapViewOfFile(handle.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!view) return nullptr;
    mapHandle_ = std::move(handle);
    mapView_ = std::move(view);
    return static_cast<TraceMap*>(mapView_.get());
}

void MapSession::UseMap() { map_ = static_cast<TraceMap*>(mapView_.get()); }

void MapSession::LeaveMap() {
    mapView_.reset();
    mapHandle_.reset();
}

void MapSession::Release() {
    map_ = nullptr;
    block_ = nullptr;
    mapView_.reset();
    blockView_.reset();
    mapHandle_.reset();
    blockHandle_.reset();
}

}  // namespace korbin
