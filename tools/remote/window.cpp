#include "window.h"

#include <cstring>

#include <wincodec.h>

#include "commands.h"
#include "raii.h"
#include "textconv.h"

namespace vxremote {
namespace {

constexpr SIZE_T kRemoteSize = 8192;
constexpr SIZE_T kTextOffset = 1024;

}  // namespace

RemoteWindow::~RemoteWindow() { Detach(); }

void RemoteWindow::Detach() {
    if (remote_) ::VirtualFreeEx(process_, remote_, 0, MEM_RELEASE);
    if (process_) ::CloseHandle(process_);
    remote_ = nullptr;
    process_ = nullptr;
    window_ = nullptr;
}

bool RemoteWindow::Attach(HWND window) {
    Detach();
    window_ = window;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    process_ = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                             FALSE, pid);
    if (!process_) return false;
    remote_ = static_cast<char*>(::VirtualAllocEx(process_, nullptr, kRemoteSize, MEM_COMMIT, PAGE_READWRITE));
    return remote_ != nullptr;
}

std::vector<TreeNode> RemoteWindow::Tree(int id) {
    std::vector<TreeNode> nodes;
    HWND tree = Child(id);
    // In the tree's own order: each node, then its children (trees are a few levels deep).
    // A node whose children are not in the control yet is expanded to read them, as a
    // user would, and collapsed again.
    auto walk = [&](auto& self, HTREEITEM first, int depth) -> void {
        for (HTREEITEM at = first; at; at = TreeView_GetNextSibling(tree, at)) {
            TVITEMA item = {};
            item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_CHILDREN;
            item.hItem = at;
            item.pszText = remote_ + kTextOffset;
            item.cchTextMax = 1024;
            ::WriteProcessMemory(process_, remote_, &item, sizeof item, nullptr);
            ::SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote_));
            char text[1025] = {};
            ::ReadProcessMemory(process_, remote_, &item, sizeof item, nullptr);
            ::ReadProcessMemory(process_, remote_ + kTextOffset, text, 1024, nullptr);
            nodes.push_back({at, depth, text, item.iImage});
            bool unfold = item.cChildren > 0 && !TreeView_GetChild(tree, at);
            if (unfold) TreeView_Expand(tree, at, TVE_EXPAND);
            self(self, TreeView_GetChild(tree, at), depth + 1);
            if (unfold) TreeView_Expand(tree, at, TVE_COLLAPSE);
        }
    };
    walk(walk, TreeView_GetRoot(tree), 0);
    return nodes;
}

std::string RemoteWindow::StatusText(int part) {
    HWND status = Child(shell::kStatusId);
    char text[1025] = {};
    ::SendMessageA(status, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(remote_ + kTextOffset));
    ::ReadProcessMemory(process_, remote_ + kTextOffset, text, 1024, nullptr);
    return text;
}

std::vector<std::vector<std::string>> RemoteWindow::ListRows(HWND list, int columns) {
    std::vector<std::vector<std::string>> rows;
    int count = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        std::vector<std::string>& texts = rows.emplace_back();
        for (int column = 0; column < columns; ++column) {
            LVITEMA item = {};
            item.iSubItem = column;
            item.pszText = remote_ + kTextOffset;
            item.cchTextMax = 1024;
            ::WriteProcessMemory(process_, remote_, &item, sizeof item, nullptr);
            ::SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(remote_));
            char text[1025] = {};
            ::ReadProcessMemory(process_, remote_ + kTextOffset, text, 1024, nullptr);
            texts.push_back(text);
        }
    }
    return rows;
}

std::string RemoteWindow::Text(int id) {
    char text[1024] = {};
    // WM_GETTEXT is carried across processes by the system (GetWindowText is not).
    ::SendMessageA(Child(id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

bool RemoteWindow::ButtonEnabled(int index) {
    return ::SendMessageA(Child(shell::kToolbarId), TB_ISBUTTONENABLED, shell::kToolbarBase + index, 0) != 0;
}

bool RemoteWindow::ButtonChecked(int index) {
    return ::SendMessageA(Child(shell::kToolbarId), TB_ISBUTTONCHECKED, shell::kToolbarBase + index, 0) != 0;
}

UINT RemoteWindow::MenuState(int command) {
    return static_cast<UINT>(::SendMessageA(window_, shell::kQueryMenuState, command, 0));
}

bool RemoteWindow::SelectNode(int treeId, HTREEITEM item) {
    return ::SendMessageA(Child(treeId), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)) != 0;
}

bool RemoteWindow::ClickNode(int treeId, HTREEITEM item) {
    // TVM_GETITEMRECT takes the item in the rectangle it fills.
    RECT rect = {};
    std::memcpy(&rect, &item, sizeof item);
    HWND tree = Child(treeId);
    if (!::WriteProcessMemory(process_, remote_, &rect, sizeof rect, nullptr) ||
        !::SendMessageA(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(remote_)) ||
        !::ReadProcessMemory(process_, remote_, &rect, sizeof rect, nullptr))
        return false;
    LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    return ::PostMessageA(tree, WM_LBUTTONDOWN, MK_LBUTTON, at) && ::PostMessageA(tree, WM_LBUTTONUP, 0, at);
}

namespace {

struct Search {
    DWORD pid;
    const char* cls;
    const char* title;
    HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM param) {
    auto* s = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    char cls[256] = {}, title[256] = {};
    ::GetClassNameA(window, cls, sizeof cls);
    ::GetWindowTextA(window, title, sizeof title);
    if (pid == s->pid && std::strcmp(cls, s->cls) == 0 && (!s->title || std::strcmp(title, s->title) == 0) &&
        ::IsWindowVisible(window)) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

// Compressed by the platform's imaging component, as any image program would.
bool SaveBitmapAsPng(HBITMAP bitmap, const std::string& path) {
    HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool saved = false;
    {
        vx::com_ptr<IWICImagingFactory> factory;
        vx::com_ptr<IWICBitmap> source;
        vx::com_ptr<IWICStream> stream;
        vx::com_ptr<IWICBitmapEncoder> encoder;
        vx::com_ptr<IWICBitmapFrameEncode> frame;
        std::wstring file = vx::Wide(path);
        saved = SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_IWICImagingFactory, factory.put_void())) &&
                SUCCEEDED(factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, source.put())) &&
                SUCCEEDED(factory->CreateStream(stream.put())) &&
                SUCCEEDED(stream->InitializeFromFilename(file.c_str(), GENERIC_WRITE)) &&
                SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())) &&
                SUCCEEDED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)) &&
                SUCCEEDED(encoder->CreateNewFrame(frame.put(), nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
                SUCCEEDED(frame->WriteSource(source.get(), nullptr)) && SUCCEEDED(frame->Commit()) &&
                SUCCEEDED(encoder->Commit());
    }
    if (SUCCEEDED(init)) ::CoUninitialize();
    return saved;
}

}  // namespace

HWND FindProcessWindow(DWORD processId, const char* className, const char* title, DWORD timeoutMs) {
    DWORD start = ::GetTickCount();
    for (;;) {
        Search s = {processId, className, title, nullptr};
        ::EnumWindows(Match, reinterpret_cast<LPARAM>(&s));
        if (s.found || ::GetTickCount() - start >= timeoutMs) return s.found;
        ::Sleep(50);
    }
}

std::string MessageBoxText(HWND box) {
    char text[2048] = {};
    ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    return text;
}

bool SavePng(HWND window, const std::string& path) {
    RECT r;
    if (!::GetWindowRect(window, &r)) return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    vx::window_dc screen;
    vx::unique_memory_dc memory(::CreateCompatibleDC(screen.get()));
    vx::unique_bitmap bitmap(::CreateCompatibleBitmap(screen.get(), w, h));
    {
        vx::select_object selected(memory.get(), bitmap.get());
        ::BitBlt(memory.get(), 0, 0, w, h, screen.get(), r.left, r.top, SRCCOPY);
    }
    return SaveBitmapAsPng(bitmap.get(), path);
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    for (DWORD start = ::GetTickCount(); !condition(); ::Sleep(50))
        if (::GetTickCount() - start > timeoutMs) return false;
    return true;
}

bool StartMainWindow(const std::string& folder, PROCESS_INFORMATION* process, RemoteWindow* ui, DWORD timeoutMs) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    *process = {};
    std::string line = "\"" + folder + "Vexilo.exe\" " + folder;
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, process)) return false;
    HWND window = FindProcessWindow(process->dwProcessId, "VexiloMainWindow", "Vexilo", timeoutMs);
    if (window && ui->Attach(window)) return true;
    ::TerminateProcess(process->hProcess, 1);
    ::CloseHandle(process->hThread);
    ::CloseHandle(process->hProcess);
    *process = {};
    return false;
}

}  // namespace vxremote
