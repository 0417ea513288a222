#pragma once
// Thin, non-owning wrappers of the common controls the dialogs use: each holds a window handle
// and turns the control's messages into named calls. The dialog owns the windows.
#include <windows.h>
#include <commctrl.h>

#include <string>

class TkvControl {
public:
    explicit TkvControl(HWND window = nullptr) : window_(window) {}
    HWND Handle() const { return window_; }
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return SendMessageA(window_, message, wParam, lParam);
    }
    // Stops or resumes painting, for a series of changes that should show at once.
    void SetRedraw(bool redraw) const;

private:
    HWND window_;
};

class TkvComboBox : public TkvControl {
public:
    using TkvControl::TkvControl;
    void Clear() const { Send(CB_RESETCONTENT); }
    // The new item's index.
    int Add(const std::string& text) const;
    void SetItemData(int item, LPARAM data) const { Send(CB_SETITEMDATA, item, data); }
    LPARAM ItemData(int item) const { return Send(CB_GETITEMDATA, item); }
    int Count() const { return static_cast<int>(Send(CB_GETCOUNT)); }
    std::string ItemText(int item) const;
    // -1 for none.
    int Selection() const { return static_cast<int>(Send(CB_GETCURSEL)); }
    void Select(int item) const { Send(CB_SETCURSEL, static_cast<WPARAM>(item)); }
};

class TkvListView : public TkvControl {
public:
    using TkvControl::TkvControl;
    void SetExtendedStyle(DWORD style) const { Send(LVM_SETEXTENDEDLISTVIEWSTYLE, style, style); }
    void SetSmallImages(HIMAGELIST images) const {
        Send(LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    }
    void AddColumn(int column, const char* caption, int width) const;
    void SetColumnWidth(int column, int width) const { Send(LVM_SETCOLUMNWIDTH, column, width); }
    int ClientWidth() const;
    void Clear() const { Send(LVM_DELETEALLITEMS); }
    int Count() const { return static_cast<int>(Send(LVM_GETITEMCOUNT)); }
    // Appends a row; returns its index. With an image list, `image` may be I_IMAGENONE.
    int AddRow(const std::string& text, LPARAM data = 0) const;
    int AddRow(const std::string& text, LPARAM data, int image) const;
    void SetCell(int row, int column, const std::string& text) const;
    // -1 for none.
    int Selection() const {
        return static_cast<int>(Send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    }
    void Select(int row) const;
};

class TkvTreeView : public TkvControl {
public:
    using TkvControl::TkvControl;
    void Clear() const { Send(TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT)); }
    HTREEITEM Add(HTREEITEM parent, const std::string& text, LPARAM data) const;
    HTREEITEM First() const { return Next(TVGN_ROOT, nullptr); }
    HTREEITEM Selection() const { return Next(TVGN_CARET, nullptr); }
    HTREEITEM Parent(HTREEITEM item) const { return Next(TVGN_PARENT, item); }
    void Select(HTREEITEM item) const {
        Send(TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    }
    LPARAM ItemData(HTREEITEM item) const;

private:
    HTREEITEM Next(UINT relation, HTREEITEM item) const {
        return reinterpret_cast<HTREEITEM>(
            Send(TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
    }
};

class TkvTabControl : public TkvControl {
public:
    using TkvControl::TkvControl;
    void Clear() const { Send(TCM_DELETEALLITEMS); }
    void Insert(int position, const char* caption, LPARAM data) const;
    int Count() const { return static_cast<int>(Send(TCM_GETITEMCOUNT)); }
    int Selection() const { return static_cast<int>(Send(TCM_GETCURSEL)); }
    void Select(int position) const { Send(TCM_SETCURSEL, static_cast<WPARAM>(position)); }
    LPARAM ItemData(int position) const;
};

class TkvEdit : public TkvControl {
public:
    using TkvControl::TkvControl;
    // Adds text after what the control shows, then drops the oldest lines beyond `keptLines`,
    // so that a log goes on showing the newest lines however long it runs.
    void Append(const std::string& text, int keptLines) const;
};
