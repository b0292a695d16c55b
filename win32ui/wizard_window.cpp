#include "win32ui/wizard_window.h"

#include <stdexcept>

#include "platform/win32/text.h"
#include "win32ui/pictures.h"

namespace win32ui {

namespace {

using platform::win32::Wide;

constexpr int ClientWidth = 480;
constexpr int ClientHeight = 314;
constexpr int FontPixels = 11;
constexpr UINT SchedulerInterval = 500;
constexpr UINT_PTR SchedulerTimer = 1;
constexpr int ButtonTop = 280;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;
// Control identifiers above the dialog answers (IDOK, IDCANCEL), which the dialog keys send by themselves.
enum : int { IdBack = 100, IdNext, IdCancel, IdHelp, IdList };
constexpr const wchar_t* WindowClass = L"OrvaneWizardWindow";
// Fixed single border, title, and of the boxes only the close box.
constexpr DWORD FrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD ChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;

// The designed sizes are for 96 dots per inch; the program declares itself DPI-aware, so on a screen set larger
// it scales them itself (by the system's setting at start).
int Scaled(int pixels) {
    static const int dpi = [] {
        HDC screen = GetDC(nullptr);
        const int value = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen) ReleaseDC(nullptr, screen);
        return value > 0 ? value : 96;
    }();
    return MulDiv(pixels, dpi, 96);
}

void RegisterWindowClass(WNDPROC procedure) {
    static const bool registered = [procedure] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        // The program's own icon (none in a test program, which then gets the system's) in the caption and taskbar.
        windowClass.hIcon = LoadIconW(windowClass.hInstance, MAKEINTRESOURCEW(1));
        windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = WindowClass;
        return RegisterClassExW(&windowClass) != 0;
    }();
    if (!registered) throw std::runtime_error("cannot register the wizard's window class");
}

HFONT Arial(int weight) {
    return CreateFontW(-Scaled(FontPixels), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial");
}

// A control's designed place in its parent's client area.
struct TPlace {
    int left, top, width, height;
};

HWND Child(HWND parent, const wchar_t* kind, const char* caption, DWORD style, TPlace place, int id, HFONT font) {
    HWND window = CreateWindowExW(0, kind, Wide(caption).c_str(), ChildStyle | style, Scaled(place.left),
                                  Scaled(place.top), Scaled(place.width), Scaled(place.height), parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                  nullptr);
    if (!window) throw std::runtime_error("cannot create the wizard's controls");
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return window;
}

HWND Label(HWND parent, const char* caption, TPlace place, HFONT font, DWORD style = 0) {
    return Child(parent, L"STATIC", caption, SS_LEFT | SS_NOPREFIX | style, place, 0, font);
}

HWND Button(HWND parent, int left, int id, const char* caption, HFONT font) {
    return Child(parent, L"BUTTON", caption, BS_PUSHBUTTON | WS_TABSTOP,
                 {left, ButtonTop, ButtonWidth, ButtonHeight}, id, font);
}

HWND CreateFrame(WNDPROC procedure) {
    RegisterWindowClass(procedure);
    RECT frame{0, 0, Scaled(ClientWidth), Scaled(ClientHeight)};
    AdjustWindowRectEx(&frame, FrameStyle, FALSE, 0);
    HWND window = CreateWindowExW(0, WindowClass, L"Orvane", FrameStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (!window) throw std::runtime_error("cannot create the wizard's window");
    return window;
}

void CreateList(TWizardHandles& handles) {
    handles.ListViewItems = Child(handles.FormOrvane, WC_LISTVIEWW, "",
                                  WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                                      LVS_SHAREIMAGELISTS | LVS_NOSORTHEADER,
                                  {136, 64, 337, 161}, IdList, handles.Font);
    HWND list = handles.ListViewItems;
    const DWORD extended = LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    handles.Images = RowImages();
    SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(handles.Images));
    const struct {
        const wchar_t* caption;
        int width;
    } columns[] = {{L"Product", 200}, {L"Status", 110}};
    for (int i = 0; i < 2; ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(columns[i].caption);
        column.cx = Scaled(columns[i].width);
        column.iSubItem = i;
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
}

TWizardHandles CreateHandles(WNDPROC procedure) {
    TWizardHandles handles;
    handles.Font = Arial(FW_NORMAL);
    handles.BoldFont = Arial(FW_BOLD);
    HWND window = handles.FormOrvane = CreateFrame(procedure);
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(handles.Font), FALSE);
    handles.lblWelcometoOrvane = Label(window, "Welcome to Orvane", {136, 8, 137, 13}, handles.BoldFont);
    handles.LabelStatus = Label(window, "Update Status", {137, 32, 335, 168}, handles.Font);
    handles.LabelUpdate = Label(window, "Update status:", {136, 232, 0, 0}, handles.Font);
    handles.Panel1 = Label(window, "", {8, 8, 120, 257}, handles.Font, WS_CLIPCHILDREN);
    handles.Picture = WizardPicture(GetSysColor(COLOR_BTNFACE));
    handles.Image1 = Child(handles.Panel1, L"STATIC", "", SS_BITMAP | SS_REALSIZECONTROL, {0, 0, 120, 257}, 0, handles.Font);
    SendMessageW(handles.Image1, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(handles.Picture));
    handles.Panel2 = Label(window, "", {8, 272, 465, 2}, handles.Font, SS_ETCHEDHORZ);
    handles.ButtonBack = Button(window, 149, IdBack, "< Back", handles.Font);
    handles.ButtonNext = Button(window, 224, IdNext, "Next >", handles.Font);
    handles.ButtonCancel = Button(window, 312, IdCancel, "Cancel", handles.Font);
    handles.ButtonHelp = Button(window, 400, IdHelp, "Help", handles.Font);
    handles.ProgressBar = Child(window, PROGRESS_CLASSW, "", 0, {136, 248, 337, 17}, 0, handles.Font);
    SendMessageW(handles.ProgressBar, PBM_SETRANGE32, 0, 100);
    CreateList(handles);
    // The list and the progress bar lie above the status text, which reaches under them on some pages.
    for (HWND above : {handles.ProgressBar, handles.ListViewItems})
        SetWindowPos(above, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return handles;
}

void CentreOnScreen(HWND window) {
    RECT work{}, frame{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(window, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// One owned component, wrapped for the time of a visit.
class TOwnedAdapter : public TTranslatableComponent {
public:
    explicit TOwnedAdapter(const TWin32TranslatableForm::TOwned& component) : component_(component) {}
    std::string Name() const override { return component_.Name; }
    TComponentKind Kind() const override { return component_.Kind; }
    void SetCaption(const std::string& caption) override {
        if (component_.Control) component_.Control->SetCaption(caption);
    }
    int ColumnCount() const override { return component_.Columns ? component_.Columns->ColumnCount() : 0; }
    void SetColumnCaption(int index, const std::string& caption) override {
        component_.Columns->SetColumnCaption(index, caption);
    }
    void ForEachOwned(const std::function<void(TTranslatableComponent&)>&) override {}

private:
    const TWin32TranslatableForm::TOwned& component_;
};

}  // namespace

void TWin32TranslatableForm::SetCaption(const std::string& caption) { SetWindowTextW(window_, Wide(caption).c_str()); }

void TWin32TranslatableForm::ForEachOwned(const std::function<void(TTranslatableComponent&)>& visit) {
    for (const TOwned& component : owned_) {
        TOwnedAdapter adapter(component);
        visit(adapter);
    }
}

TWin32WizardWindow::TWin32WizardWindow(std::vector<std::string> arguments)
    : handles_(CreateHandles(&WindowProcedure)),
      lblWelcometoOrvane_(handles_.lblWelcometoOrvane, true),
      LabelStatus_(handles_.LabelStatus),
      LabelUpdate_(handles_.LabelUpdate, true),
      Panel1_(handles_.Panel1),
      Panel2_(handles_.Panel2),
      ButtonBack_(handles_.ButtonBack),
      ButtonNext_(handles_.ButtonNext),
      ButtonCancel_(handles_.ButtonCancel),
      ButtonHelp_(handles_.ButtonHelp),
      ProgressBar_(handles_.ProgressBar),
      ListViewItems_(handles_.ListViewItems),
      tmrSched_(handles_.FormOrvane, SchedulerTimer, SchedulerInterval),
      services_(handles_.FormOrvane, [this](MSG& message) { return PreTranslate(message); }),
      translatable_(handles_.FormOrvane, OwnedComponents()),
      previousMessageBox_(AppMessageBoxFunction) {
    LabelUpdate_.SetCaption(LabelUpdate_.Caption());
    SetWindowLongPtrW(handles_.FormOrvane, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    form_ = std::make_unique<TFormOrvane>(FormControls(), translatable_, std::move(arguments));
    AppMessageBoxFunction = [this](const std::string& text, unsigned style) {
        return services_.AppMessageBox(text, style);
    };
    ListViewItems_.SetGuard([this](int row) {
        bool allowed = false;
        form_->Dispatch([&] { allowed = form_->ListViewItemsChanging(row); });
        return allowed;
    });
    tmrSched_.SetEnabled(true);
}

TWin32WizardWindow::~TWin32WizardWindow() {
    services_.Detach();
    AppMessageBoxFunction = previousMessageBox_;
    Dispatch(&TFormOrvane::FormDestroy);
    // The controls outlive the form: nothing they do while they go away may ask it anything.
    ListViewItems_.SetGuard({});
    tmrSched_.SetEnabled(false);
    SetWindowLongPtrW(handles_.FormOrvane, GWLP_USERDATA, 0);
    DestroyWindow(handles_.FormOrvane);
    ImageList_Destroy(handles_.Images);
    DeleteObject(handles_.Picture);
    DeleteObject(handles_.Font);
    DeleteObject(handles_.BoldFont);
}

bool TWin32WizardWindow::Open() {
    Dispatch(&TFormOrvane::FormCreate);
    if (services_.TerminatesBeforeShowing()) return false;
    CentreOnScreen(handles_.FormOrvane);
    ShowWindow(handles_.FormOrvane, SW_SHOW);
    UpdateWindow(handles_.FormOrvane);
    Dispatch(&TFormOrvane::FormShow);
    return IsWindowVisible(handles_.FormOrvane) != 0;
}

int TWin32WizardWindow::Exec() {
    if (!Open()) return 0;
    looping_ = true;
    QuitWhenClosed();
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) Handle(message);
    looping_ = false;
    return static_cast<int>(message.wParam);
}

void TWin32WizardWindow::Handle(MSG& message) {
    DispatchWindowMessage(handles_.FormOrvane, message, [this](MSG& m) { return PreTranslate(m); });
}

// Esc presses Cancel, as long as Cancel is there to be pressed.
bool TWin32WizardWindow::PreTranslate(MSG& message) {
    if (message.message != WM_KEYDOWN || message.wParam != VK_ESCAPE) return false;
    HWND window = handles_.FormOrvane;
    if (message.hwnd != window && !IsChild(window, message.hwnd)) return false;
    if (ButtonCancel_.Visible() && ButtonCancel_.Enabled()) Dispatch(&TFormOrvane::ButtonCancelClick);
    return true;
}

void TWin32WizardWindow::Dispatch(void (TFormOrvane::*handler)()) {
    ++handlersRunning_;
    form_->Dispatch([this, handler] { (form_.get()->*handler)(); });
    --handlersRunning_;
    QuitWhenClosed();
}

// The loop ends only once no handler runs any more: a box still open then would otherwise take the quit.
void TWin32WizardWindow::QuitWhenClosed() {
    if (looping_ && handlersRunning_ == 0 && !IsWindowVisible(handles_.FormOrvane)) PostQuitMessage(0);
}

LRESULT CALLBACK TWin32WizardWindow::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* wizard = reinterpret_cast<TWin32WizardWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!wizard) return DefWindowProcW(window, message, wParam, lParam);
    return wizard->OnMessage(message, wParam, lParam);
}

LRESULT TWin32WizardWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) break;
            switch (LOWORD(wParam)) {
                case IdNext: Dispatch(&TFormOrvane::ButtonNextClick); return 0;
                case IdCancel: Dispatch(&TFormOrvane::ButtonCancelClick); return 0;
                case IdHelp: Dispatch(&TFormOrvane::ButtonHelpClick); return 0;
                default: break;
            }
            break;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->hwndFrom == handles_.ListViewItems && header->code == LVN_ITEMCHANGING)
                return ListViewItems_.RefusesChange(*reinterpret_cast<const NMLISTVIEW*>(lParam)) ? TRUE : FALSE;
            break;
        }
        case WM_TIMER:
            // A timer is not run again while its own handler runs (it may handle messages meanwhile).
            if (wParam == SchedulerTimer && !inTimer_) {
                inTimer_ = true;
                Dispatch(&TFormOrvane::tmrSchedTimer);
                inTimer_ = false;
            }
            return 0;
        case WM_RUNQUEUED:
            ++handlersRunning_;
            services_.RunQueued();
            --handlersRunning_;
            QuitWhenClosed();
            return 0;
        case WM_CLOSE:
            // The close box closes the window without cancelling.
            ShowWindow(handles_.FormOrvane, SW_HIDE);
            QuitWhenClosed();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(handles_.FormOrvane, message, wParam, lParam);
}

TFormOrvaneControls TWin32WizardWindow::FormControls() {
    TFormOrvaneControls controls;
    controls.lblWelcometoOrvane = &lblWelcometoOrvane_;
    controls.LabelStatus = &LabelStatus_;
    controls.LabelUpdate = &LabelUpdate_;
    controls.Panel1 = &Panel1_;
    controls.Panel2 = &Panel2_;
    controls.ButtonBack = &ButtonBack_;
    controls.ButtonNext = &ButtonNext_;
    controls.ButtonCancel = &ButtonCancel_;
    controls.ButtonHelp = &ButtonHelp_;
    controls.ProgressBar = &ProgressBar_;
    controls.ListViewItems = &ListViewItems_;
    controls.tmrSched = &tmrSched_;
    controls.Window = &services_;
    return controls;
}

// In the order the window owns them. Its picture, progress bar, timer and image list take nothing from a
// language file, so they are not listed.
std::vector<TWin32TranslatableForm::TOwned> TWin32WizardWindow::OwnedComponents() {
    return {
        {"lblWelcometoOrvane", TComponentKind::Label, &lblWelcometoOrvane_},
        {"LabelStatus", TComponentKind::Label, &LabelStatus_},
        {"LabelUpdate", TComponentKind::Label, &LabelUpdate_},
        {"Panel1", TComponentKind::Panel, &Panel1_},
        {"Panel2", TComponentKind::Panel, &Panel2_},
        {"ButtonBack", TComponentKind::Button, &ButtonBack_},
        {"ButtonNext", TComponentKind::Button, &ButtonNext_},
        {"ButtonCancel", TComponentKind::Button, &ButtonCancel_},
        {"ButtonHelp", TComponentKind::Button, &ButtonHelp_},
        {"ListViewItems", TComponentKind::ListView, nullptr, &ListViewItems_},
    };
}

}  // namespace win32ui
