#include "win32ui/win32_controls.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "platform/win32/text.h"

namespace win32ui {

using platform::win32::Utf8;
using platform::win32::Wide;

std::string WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return Utf8(text);
}

void HandOnFocus(HWND control) {
    if (GetFocus() != control) return;
    HWND next = GetNextDlgTabItem(GetParent(control), control, FALSE);
    if (next && next != control) SetFocus(next);
}

void TWin32CaptionControl::SetCaption(const std::string& caption) {
    const std::wstring text = Wide(caption);
    SetWindowTextW(window_, text.c_str());
    if (!autoSize_) return;
    HDC dc = GetDC(window_);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(window_, WM_GETFONT, 0, 0)));
    RECT room{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &room, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, previous);
    ReleaseDC(window_, dc);
    SetWindowPos(window_, nullptr, 0, 0, room.right, room.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::string TWin32CaptionControl::Caption() const { return WindowText(window_); }

void TWin32ProgressBar::SetRange(int minimum, int maximum) { SendMessageW(window_, PBM_SETRANGE32, minimum, maximum); }

int TWin32ProgressBar::Maximum() const { return static_cast<int>(SendMessageW(window_, PBM_GETRANGE, FALSE, 0)); }

void TWin32ProgressBar::SetPosition(int position) {
    const int minimum = static_cast<int>(SendMessageW(window_, PBM_GETRANGE, TRUE, 0));
    SendMessageW(window_, PBM_SETPOS, static_cast<WPARAM>(std::clamp(position, minimum, std::max(minimum, Maximum()))), 0);
}

int TWin32ProgressBar::Position() const { return static_cast<int>(SendMessageW(window_, PBM_GETPOS, 0, 0)); }

TWin32ListView::TWin32ListView(HWND window) : TWin32Control(window) {}

bool TWin32ListView::RefusesChange(const NMLISTVIEW& change) const {
    if (unguarded_ || !guard_ || change.iItem < 0 || !(change.uChanged & LVIF_STATE)) return false;
    return !guard_(change.iItem);
}

int TWin32ListView::ColumnCount() const {
    return static_cast<int>(SendMessageW(ListView_GetHeader(window_), HDM_GETITEMCOUNT, 0, 0));
}

void TWin32ListView::SetColumnCaption(int column, const std::string& caption) {
    std::wstring text = Wide(caption);
    LVCOLUMNW info{};
    info.mask = LVCF_TEXT;
    info.pszText = text.data();
    SendMessageW(window_, LVM_SETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
}

std::string TWin32ListView::ColumnCaption(int column) const {
    wchar_t text[256] = {};
    LVCOLUMNW info{};
    info.mask = LVCF_TEXT;
    info.pszText = text;
    info.cchTextMax = 255;
    SendMessageW(window_, LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
    return Utf8(text);
}

void TWin32ListView::Clear() {
    unguarded_ = true;
    SendMessageW(window_, LVM_DELETEALLITEMS, 0, 0);
    unguarded_ = false;
}

int TWin32ListView::AddRow(const std::string& caption) {
    std::wstring text = Wide(caption);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = RowCount();
    item.pszText = text.data();
    item.iImage = 0;
    unguarded_ = true;
    const int row = static_cast<int>(SendMessageW(window_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    // A new row starts without check mark, whatever the control chose.
    if (row >= 0) ListView_SetCheckState(window_, row, FALSE);
    unguarded_ = false;
    if (row < 0) throw std::runtime_error("the list cannot take another row");
    return row;
}

int TWin32ListView::RowCount() const { return static_cast<int>(SendMessageW(window_, LVM_GETITEMCOUNT, 0, 0)); }

void TWin32ListView::CheckRow(int row) const {
    if (row < 0 || row >= RowCount()) throw std::out_of_range("no such row in the list");
}

bool TWin32ListView::Checked(int row) const {
    CheckRow(row);
    return ListView_GetCheckState(window_, row) != 0;
}

void TWin32ListView::SetChecked(int row, bool checked) {
    CheckRow(row);
    ListView_SetCheckState(window_, row, checked);
}

int TWin32ListView::ImageIndex(int row) const {
    CheckRow(row);
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    SendMessageW(window_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.iImage;
}

void TWin32ListView::SetImageIndex(int row, int image) {
    CheckRow(row);
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    item.iImage = image;
    unguarded_ = true;
    SendMessageW(window_, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    unguarded_ = false;
}

void TWin32ListView::SetStatus(int row, const std::string& status) {
    CheckRow(row);
    std::wstring text = Wide(status);
    LVITEMW item{};
    item.iSubItem = 1;
    item.pszText = text.data();
    unguarded_ = true;
    SendMessageW(window_, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    unguarded_ = false;
}

std::string TWin32ListView::Text(int row, int column) const {
    CheckRow(row);
    // The control copies at most the room given and says how much it copied: grow until the text fits.
    for (size_t room = 256;; room *= 2) {
        std::vector<wchar_t> text(room, L'\0');
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = text.data();
        item.cchTextMax = static_cast<int>(room);
        const auto copied = static_cast<size_t>(
            SendMessageW(window_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
        if (copied + 1 < room) return Utf8(std::wstring_view(text.data(), copied));
    }
}

void TWin32Timer::SetEnabled(bool enabled) {
    if (enabled) SetTimer(window_, id_, interval_, nullptr);
    else KillTimer(window_, id_);
    enabled_ = enabled;
}

}  // namespace win32ui
