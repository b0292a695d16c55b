#include "win32ui/wizard_window.h"

#include <stdexcept>

#include "platform/win32/text.h"
#include "win32ui/pictures.h"

namespace win32ui {

namespace {

using platform::win32::Wide;

constexpr UINT_PTR SchedulerTimer = 1;
// Control identifiers above the dialog answers (IDOK, IDCANCEL), which the dialog keys send by themselves: the
// control's place in the design, from here on.
constexpr int FirstControlId = 100;
constexpr UINT DpiChangedMessage = 0x02E0;  // WM_DPICHANGED, which older headers lack
constexpr const wchar_t* WindowClass = L"OrvaneWizardWindow";
// Fixed single border, title, and of the boxes only the close box.
constexpr DWORD FrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD ChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
constexpr DWORD ListStyle =
    WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS | LVS_NOSORTHEADER;

int SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int value = screen ? GetDeviceCaps(screen, LOGPIXELSY) : DesignedDpi;
    if (screen) ReleaseDC(nullptr, screen);
    return value > 0 ? value : DesignedDpi;
}

// The dots per inch of the window's monitor where Windows tells them (10 and later), else the system's.
int WindowDpi(HWND window) {
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<TGetDpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    const UINT dpi = getDpiForWindow ? getDpiForWindow(window) : 0;
    return dpi > 0 ? static_cast<int>(dpi) : SystemDpi();
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

HWND CreateFrame(WNDPROC procedure) {
    RegisterWindowClass(procedure);
    const int dpi = SystemDpi();
    RECT frame{0, 0, ScaledToDpi(DesignedClientWidth, dpi), ScaledToDpi(DesignedClientHeight, dpi)};
    AdjustWindowRectEx(&frame, FrameStyle, FALSE, 0);
    HWND window = CreateWindowExW(0, WindowClass, Wide(DesignedTitle).c_str(), FrameStyle, CW_USEDEFAULT,
                                  CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (!window) throw std::runtime_error("cannot create the wizard's window");
    return window;
}

HFONT Arial(int dpi, int weight) {
    return CreateFontW(-ScaledToDpi(DesignedFontPixels, dpi), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial");
}

// The Win32 class and style of a designed control.
struct TWindowKind {
    const wchar_t* Class;
    DWORD Style;
};

TWindowKind WindowKind(const TDesignedControl& design) {
    constexpr DWORD label = SS_LEFT | SS_NOPREFIX;
    switch (design.Kind) {
        case TDesignedKind::Heading:
        case TDesignedKind::Text:
        case TDesignedKind::AutoLabel:
            return {L"STATIC", label};
        case TDesignedKind::Panel:
            return {L"STATIC", label | WS_CLIPCHILDREN};
        case TDesignedKind::Picture:
            return {L"STATIC", SS_BITMAP | SS_REALSIZECONTROL};
        case TDesignedKind::Separator:
            return {L"STATIC", label | SS_ETCHEDHORZ};
        case TDesignedKind::Button:
            // Next is the default button: Enter presses it when no other button has the focus.
            return {L"BUTTON", static_cast<DWORD>(WS_TABSTOP | (design.Name == std::string_view("ButtonNext")
                                                                     ? BS_DEFPUSHBUTTON
                                                                     : BS_PUSHBUTTON))};
        case TDesignedKind::ProgressBar:
            return {PROGRESS_CLASSW, 0};
        case TDesignedKind::List:
            return {WC_LISTVIEWW, ListStyle};
    }
    throw std::logic_error("unknown kind of control");
}

bool FitsItsCaption(TDesignedKind kind) { return kind == TDesignedKind::Heading || kind == TDesignedKind::AutoLabel; }

}  // namespace

TWin32WizardWindow::TWin32WizardWindow(std::vector<std::string> arguments)
    : dpi_(DesignedDpi),
      window_(CreateFrame(&WindowProcedure)),
      tmrSched_(window_, SchedulerTimer, SchedulerInterval),
      services_(window_, [this](MSG& message) { return PreTranslate(message); }) {
    for (size_t i = 0; i < std::size(WizardDesign); ++i)
        CreateControl(WizardDesign[i], FirstControlId + static_cast<int>(i));
    // The list and the progress bar lie above the status text, which reaches under them on some pages.
    for (const char* above : {"ProgressBar", "ListViewItems"})
        SetWindowPos(ControlWindow(above), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    LayOut(WindowDpi(window_));
    FitClientArea();
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    CreateForm(std::move(arguments), tmrSched_, services_,
               [this](const std::string& text, unsigned style) { return services_.AppMessageBox(text, style); });
    list_->SetGuard([this](int row) { return RowMayChange(row); });
    tmrSched_.SetEnabled(true);
}

TWin32WizardWindow::~TWin32WizardWindow() {
    services_.Detach();
    DestroyForm();
    // The controls outlive the form: nothing they do while they go away may ask it anything.
    list_->SetGuard({});
    tmrSched_.SetEnabled(false);
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
    ImageList_Destroy(images_);
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(picture_), static_cast<HGDIOBJ>(font_),
                           static_cast<HGDIOBJ>(boldFont_)})
        DeleteObject(object);
}

HWND TWin32WizardWindow::ControlWindow(std::string_view name) const {
    for (size_t i = 0; i < children_.size(); ++i) {
        if (name == WizardDesign[i].Name) return children_[i];
    }
    throw std::out_of_range("the wizard window has no control " + std::string(name));
}

std::string_view TWin32WizardWindow::NameOf(HWND control) const {
    for (size_t i = 0; i < children_.size(); ++i) {
        if (children_[i] == control) return WizardDesign[i].Name;
    }
    return {};
}

void TWin32WizardWindow::CreateControl(const TDesignedControl& design, int id) {
    const TWindowKind kind = WindowKind(design);
    HWND parent = design.Parent ? ControlWindow(design.Parent) : window_;
    HWND control = CreateWindowExW(0, kind.Class, Wide(design.Caption).c_str(), ChildStyle | kind.Style, 0, 0, 0, 0,
                                   parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   GetModuleHandleW(nullptr), nullptr);
    if (!control) throw std::runtime_error("cannot create the wizard's controls");
    children_.push_back(control);
    switch (design.Kind) {
        case TDesignedKind::Picture:
            break;
        case TDesignedKind::ProgressBar:
            SendMessageW(control, PBM_SETRANGE32, 0, 100);
            AddControl(design.Name, std::make_unique<TWin32ProgressBar>(control));
            break;
        case TDesignedKind::List: {
            CreateList(control);
            auto list = std::make_unique<TWin32ListView>(control);
            list_ = list.get();
            AddControl(design.Name, std::move(list));
            break;
        }
        default:
            AddControl(design.Name, std::make_unique<TWin32CaptionControl>(control, FitsItsCaption(design.Kind)));
            break;
    }
}

void TWin32WizardWindow::CreateList(HWND list) {
    const DWORD extended = LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    for (int i = 0; i < static_cast<int>(std::size(DesignedListColumns)); ++i) {
        std::wstring caption = Wide(DesignedListColumns[i].Caption);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = caption.data();
        column.cx = DesignedListColumns[i].Width;
        column.iSubItem = i;
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
}

void TWin32WizardWindow::LayOut(int dpi) {
    dpi_ = dpi;
    const HFONT previousFonts[] = {font_, boldFont_};
    font_ = Arial(dpi, FW_NORMAL);
    boldFont_ = Arial(dpi, FW_BOLD);
    ReplacePictures(dpi);
    for (size_t i = 0; i < children_.size(); ++i) {
        const TDesignedControl& design = WizardDesign[i];
        HFONT font = design.Kind == TDesignedKind::Heading ? boldFont_ : font_;
        SendMessageW(children_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        const TDesignedRect place = ScaledToDpi(design.Place, dpi);
        SetWindowPos(children_[i], nullptr, place.Left, place.Top, place.Width, place.Height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        if (FitsItsCaption(design.Kind)) Control(design.Name).SetCaption(Control(design.Name).Caption());
    }
    HWND list = ControlWindow("ListViewItems");
    for (int i = 0; i < static_cast<int>(std::size(DesignedListColumns)); ++i)
        SendMessageW(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(i), ScaledToDpi(DesignedListColumns[i].Width, dpi));
    // The controls have the new fonts now; the old ones can go.
    for (HFONT font : previousFonts) {
        if (font) DeleteObject(font);
    }
}

void TWin32WizardWindow::ReplacePictures(int dpi) {
    HBITMAP previousPicture = picture_;
    HIMAGELIST previousImages = images_;
    picture_ = WizardPicture(GetSysColor(COLOR_BTNFACE), ScaledToDpi(DesignedControl("Image1").Place.Width, dpi));
    images_ = RowImages(ScaledToDpi(DesignedRowImagePixels, dpi));
    SendMessageW(ControlWindow("Image1"), STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_));
    SendMessageW(ControlWindow("ListViewItems"), LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images_));
    if (previousPicture) DeleteObject(previousPicture);
    if (previousImages) ImageList_Destroy(previousImages);
}

// Windows suggests where the window goes on its new monitor; its client area is then made exactly the designed
// size at the new resolution, whatever the frame's own scaling.
void TWin32WizardWindow::OnDpiChanged(int dpi, const RECT& suggested) {
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    LayOut(dpi);
    FitClientArea();
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TWin32WizardWindow::FitClientArea() {
    RECT client{}, frame{};
    GetClientRect(window_, &client);
    GetWindowRect(window_, &frame);
    const int width = frame.right - frame.left + ScaledToDpi(DesignedClientWidth, dpi_) - client.right;
    const int height = frame.bottom - frame.top + ScaledToDpi(DesignedClientHeight, dpi_) - client.bottom;
    SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWin32WizardWindow::SetCaption(const std::string& caption) { SetWindowTextW(window_, Wide(caption).c_str()); }

// Centred in the work area of the window's monitor.
void TWin32WizardWindow::ShowCentred() {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    RECT frame{};
    GetWindowRect(window_, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
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
    DispatchWindowMessage(window_, message, [this](MSG& m) { return PreTranslate(m); });
}

// Esc presses Cancel, as long as Cancel is there to be pressed; Enter the button that has the focus, else Next.
bool TWin32WizardWindow::PreTranslate(MSG& message) {
    if (message.message != WM_KEYDOWN || (message.hwnd != window_ && !IsChild(window_, message.hwnd))) return false;
    if (message.wParam == VK_ESCAPE) PressEscape();
    else if (message.wParam == VK_RETURN) PressEnter(NameOf(GetFocus()));
    else return false;
    return true;
}

LRESULT CALLBACK TWin32WizardWindow::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* wizard = reinterpret_cast<TWin32WizardWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!wizard) return DefWindowProcW(window, message, wParam, lParam);
    return wizard->OnMessage(message, wParam, lParam);
}

LRESULT TWin32WizardWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: {
            const size_t index = LOWORD(wParam) - static_cast<size_t>(FirstControlId);
            if (HIWORD(wParam) != BN_CLICKED || index >= std::size(WizardDesign)) break;
            if (const auto handler = ClickHandler(WizardDesign[index].Name)) Dispatch(handler);
            return 0;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->hwndFrom == ControlWindow("ListViewItems") && header->code == LVN_ITEMCHANGING)
                return list_->RefusesChange(*reinterpret_cast<const NMLISTVIEW*>(lParam)) ? TRUE : FALSE;
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
            RunAsHandler([this] { services_.RunQueued(); });
            return 0;
        case DpiChangedMessage:
            OnDpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_CLOSE:
            // The close box closes the window without cancelling.
            ShowWindow(window_, SW_HIDE);
            QuitWhenClosed();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace win32ui
