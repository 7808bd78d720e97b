#include "droptarget.h"

#include <shellapi.h>

namespace ui::win32 {

namespace {

// The dragged files, from one request to the source; nothing when it gives none.
std::optional<std::vector<std::filesystem::path>> askForFiles(IDataObject* data) {
    FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (!data || FAILED(data->GetData(&format, &medium))) return std::nullopt;
    std::vector<std::filesystem::path> files;
    if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) files = droppedFiles(static_cast<HDROP>(medium.hGlobal));
    ReleaseStgMedium(&medium);
    return files;
}

} // namespace

std::vector<std::filesystem::path> droppedFiles(HDROP drop) {
    std::vector<std::filesystem::path> files;
    for (UINT i = 0, n = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0); i < n; ++i) {
        std::wstring path(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        path.resize(DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
        files.emplace_back(path);
    }
    return files;
}

DropTarget::DropTarget(std::function<bool(POINT)> accepts,
                       std::function<void(POINT, const std::vector<std::filesystem::path>&)> dropped)
    : accepts_(std::move(accepts)), dropped_(std::move(dropped)) {}

bool DropTarget::registerWith(HWND window) {
    window_ = window;
    registered_ = SUCCEEDED(RegisterDragDrop(window_, this));
    return registered_;
}

void DropTarget::revoke() {
    if (registered_) RevokeDragDrop(window_);
    registered_ = false;
}

HRESULT DropTarget::QueryInterface(REFIID id, void** out) {
    if (id == IID_IUnknown || id == IID_IDropTarget) {
        *out = static_cast<IDropTarget*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG DropTarget::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
ULONG DropTarget::Release() { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }

POINT DropTarget::clientPoint(POINTL at) const {
    POINT p{at.x, at.y};
    ScreenToClient(window_, &p);
    return p;
}

void DropTarget::answer(POINTL at, DWORD* effect) const {
    // Nothing is moved: the path is taken, the file stays where it is.
    const DWORD allowed = *effect;
    *effect = !accepts_(clientPoint(at))      ? DROPEFFECT_NONE
              : (allowed & DROPEFFECT_COPY) ? DROPEFFECT_COPY
              : (allowed & DROPEFFECT_LINK) ? DROPEFFECT_LINK
                                            : DROPEFFECT_NONE;
}

HRESULT DropTarget::DragEnter(IDataObject* data, DWORD, POINTL at, DWORD* effect) {
    // Wine enters again at each child window the cursor crosses, with the same
    // data: what the source said the first time stands for the whole drag.
    if (data != source_) {
        forget();
        source_ = data;
        if (source_) source_->AddRef();
        items_ = askForFiles(data);
    }
    answer(at, effect);
    return S_OK;
}

HRESULT DropTarget::DragOver(DWORD, POINTL at, DWORD* effect) {
    answer(at, effect);
    return S_OK;
}

HRESULT DropTarget::DragLeave() { return S_OK; }

HRESULT DropTarget::Drop(IDataObject* data, DWORD, POINTL at, DWORD* effect) {
    // A source that had nothing to give as the drag entered may have it now.
    if (data != source_ || !items_ || items_->empty()) items_ = askForFiles(data);
    const std::vector<std::filesystem::path> items = items_.value_or(std::vector<std::filesystem::path>{});
    forget();
    answer(at, effect);
    if (*effect != DROPEFFECT_NONE) dropped_(clientPoint(at), items);
    return S_OK;
}

void DropTarget::forget() {
    if (source_) source_->Release();
    source_ = nullptr;
    items_.reset();
}

} // namespace ui::win32
