// Files dropped on a window by OLE drag and drop, as Explorer and other programs
// drag them: the window registers a DropTarget and is told where and what.
#pragma once

#include "tablewindow.h"

#include <ole2.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace ui::win32 {

class DropTarget : public IDropTarget {
public:
    // `accepts`: whether a drop at that client point would land anywhere.
    // `dropped`: the items dropped there; empty when the source gave none.
    DropTarget(std::function<bool(POINT)> accepts,
               std::function<void(POINT, const std::vector<std::filesystem::path>&)> dropped);
    ~DropTarget() { forget(); }
    DropTarget(const DropTarget&) = delete;
    DropTarget& operator=(const DropTarget&) = delete;
    // Registers for `window` with OLE, which must be initialised on this thread;
    // false where it cannot.
    bool registerWith(HWND window);
    void revoke();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD keys, POINTL at, DWORD* effect) override;
    HRESULT STDMETHODCALLTYPE DragOver(DWORD keys, POINTL at, DWORD* effect) override;
    HRESULT STDMETHODCALLTYPE DragLeave() override;
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD keys, POINTL at, DWORD* effect) override;

private:
    POINT clientPoint(POINTL at) const;
    void answer(POINTL at, DWORD* effect) const;
    void forget();

    HWND window_ = nullptr;
    std::function<bool(POINT)> accepts_;
    std::function<void(POINT, const std::vector<std::filesystem::path>&)> dropped_;
    LONG refs_ = 1; // owned by the window, never deleted through Release
    bool registered_ = false;
    // The drag's data and its files, asked for once as the drag enters: a source
    // may answer only the first request. Held until the drop or the next drag.
    IDataObject* source_ = nullptr;
    std::optional<std::vector<std::filesystem::path>> items_;
};

// The files an HDROP names.
std::vector<std::filesystem::path> droppedFiles(HDROP drop);

} // namespace ui::win32
