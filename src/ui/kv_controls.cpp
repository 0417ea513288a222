#include "ui/kv_controls.h"

#include <vector>

namespace {

// The common controls take texts as non-const buffers even where they only read them.
char* TextArgument(const std::string& text) {
    return const_cast<char*>(text.c_str());
}

} // namespace

void TkvControl::SetRedraw(bool redraw) const {
    Send(WM_SETREDRAW, redraw ? TRUE : FALSE);
    if (redraw)
        InvalidateRect(window_, nullptr, TRUE);
}

int TkvComboBox::Add(const std::string& text) const {
    return static_cast<int>(Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

std::string TkvComboBox::ItemText(int item) const {
    const auto length = Send(CB_GETLBTEXTLEN, static_cast<WPARAM>(item));
    if (length <= 0)
        return {};
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    Send(CB_GETLBTEXT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}

void TkvListView::AddColumn(int column, const char* caption, int width) const {
    LVCOLUMNA info{};
    info.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    const std::string text = caption;
    info.pszText = TextArgument(text);
    info.cx = width;
    info.iSubItem = column;
    Send(LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
}

int TkvListView::ClientWidth() const {
    RECT client{};
    GetClientRect(Handle(), &client);
    return client.right;
}

int TkvListView::AddRow(const std::string& text, LPARAM data) const {
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = Count();
    item.pszText = TextArgument(text);
    item.lParam = data;
    return static_cast<int>(Send(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

int TkvListView::AddRow(const std::string& text, LPARAM data, int image) const {
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
    item.iItem = Count();
    item.pszText = TextArgument(text);
    item.lParam = data;
    item.iImage = image;
    return static_cast<int>(Send(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

void TkvListView::SetCell(int row, int column, const std::string& text) const {
    LVITEMA cell{};
    cell.iSubItem = column;
    cell.pszText = TextArgument(text);
    Send(LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
}

void TkvListView::Select(int row) const {
    LVITEMA state{};
    state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
    Send(LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
}

HTREEITEM TkvTreeView::Add(HTREEITEM parent, const std::string& text, LPARAM data) const {
    TVINSERTSTRUCTA insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = TextArgument(text);
    insert.item.lParam = data;
    return reinterpret_cast<HTREEITEM>(Send(TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

LPARAM TkvTreeView::ItemData(HTREEITEM item) const {
    TVITEMA info{};
    info.mask = TVIF_PARAM;
    info.hItem = item;
    Send(TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&info));
    return info.lParam;
}

void TkvTabControl::Insert(int position, const char* caption, LPARAM data) const {
    TCITEMA item{};
    item.mask = TCIF_TEXT | TCIF_PARAM;
    const std::string text = caption;
    item.pszText = TextArgument(text);
    item.lParam = data;
    Send(TCM_INSERTITEMA, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&item));
}

LPARAM TkvTabControl::ItemData(int position) const {
    TCITEMA item{};
    item.mask = TCIF_PARAM;
    Send(TCM_GETITEMA, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&item));
    return item.lParam;
}

void TkvEdit::Append(const std::string& text, int keptLines) const {
    // Trimming first keeps the text under the control's limit, which would refuse the new text.
    const auto lines = static_cast<int>(Send(EM_GETLINECOUNT));
    if (lines > keptLines) {
        const auto cut = Send(EM_LINEINDEX, static_cast<WPARAM>(lines - keptLines));
        Send(EM_SETSEL, 0, cut);
        Send(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
    }
    const auto end = GetWindowTextLengthA(Handle());
    Send(EM_SETSEL, static_cast<WPARAM>(end), end);
    Send(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}
