#pragma once
// The wizard window as designed, once for every toolkit: each control's name, kind, place at 96 dots per inch
// and designed caption, in the order the window creates and owns them (later ones lie above earlier ones, so the
// list and the progress bar cover the status text where it reaches under them). A toolkit builds its window by
// walking this table and serves the form and the localizer through TDesignedWindow.
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "UnitOrvane/controls.h"
#include "localizer/localizer.h"

class TFormOrvane;

enum class TDesignedKind {
    Heading,    // bold label that fits itself to its caption
    Text,       // word-wrapped label of fixed size, aligned top left
    AutoLabel,  // label that fits itself to its caption
    Panel,      // panel that holds the picture
    Picture,    // the wizard picture, filling its panel
    Separator,  // sunken horizontal line
    Button,
    ProgressBar,
    List,       // report view with check boxes and small images
};

struct TDesignedRect {
    int Left, Top, Width, Height;
    bool operator==(const TDesignedRect&) const = default;
};

struct TDesignedControl {
    const char* Name;
    TDesignedKind Kind;
    TDesignedRect Place;  // in its parent's client area, at DesignedDpi
    const char* Caption;
    const char* Parent = nullptr;  // none: the window itself
};

struct TDesignedColumn {
    const char* Caption;
    int Width;
};

inline constexpr int DesignedDpi = 96;
inline constexpr int DesignedClientWidth = 480;
inline constexpr int DesignedClientHeight = 314;
inline constexpr int DesignedFontPixels = 11;
inline constexpr int DesignedRowImagePixels = 16;
inline constexpr int SchedulerInterval = 500;
inline constexpr const char* DesignedTitle = "Orvane";

inline constexpr TDesignedControl WizardDesign[] = {
    {"lblWelcometoOrvane", TDesignedKind::Heading, {136, 8, 137, 13}, "Welcome to Orvane"},
    {"LabelStatus", TDesignedKind::Text, {137, 32, 335, 168}, "Update Status"},
    {"LabelUpdate", TDesignedKind::AutoLabel, {136, 232, 0, 0}, "Update status:"},
    {"Panel1", TDesignedKind::Panel, {8, 8, 120, 257}, ""},
    {"Image1", TDesignedKind::Picture, {0, 0, 120, 257}, "", "Panel1"},
    {"Panel2", TDesignedKind::Separator, {8, 272, 465, 2}, ""},
    {"ButtonBack", TDesignedKind::Button, {149, 280, 75, 25}, "< Back"},
    {"ButtonNext", TDesignedKind::Button, {224, 280, 75, 25}, "Next >"},
    {"ButtonCancel", TDesignedKind::Button, {312, 280, 75, 25}, "Cancel"},
    {"ButtonHelp", TDesignedKind::Button, {400, 280, 75, 25}, "Help"},
    {"ProgressBar", TDesignedKind::ProgressBar, {136, 248, 337, 17}, ""},
    {"ListViewItems", TDesignedKind::List, {136, 64, 337, 161}, ""},
};
inline constexpr TDesignedColumn DesignedListColumns[] = {{"Product", 200}, {"Status", 110}};

// Designed pixels at another resolution, rounded to the nearest pixel.
int ScaledToDpi(int pixels, int dpi);
TDesignedRect ScaledToDpi(const TDesignedRect& place, int dpi);
const TDesignedControl& DesignedControl(std::string_view name);
// How the localizer sees a control of the kind; Other for the kinds that take no text from a language file.
TComponentKind TranslationKind(TDesignedKind kind);

// A list's column captions, which the language file gives as one comma-separated text.
class TColumnCaptions {
public:
    virtual ~TColumnCaptions() = default;
    virtual int ColumnCount() const = 0;
    virtual void SetColumnCaption(int column, const std::string& caption) = 0;
};

// A message box's button labels with the first letter as mnemonic, unless the label chose one ("&").
std::string WithMnemonic(const std::string& label);

// What both toolkits' windows share: the form over the controls found by their designed names, the window as the
// localizer sees it, the program's message boxes while the window exists, opening, and handlers run as the
// framework runs them. A toolkit creates its controls, then CreateForm; its destructor calls DestroyForm first.
class TDesignedWindow : public TTranslatableComponent {
public:
    ~TDesignedWindow() override;
    TDesignedWindow(const TDesignedWindow&) = delete;
    TDesignedWindow& operator=(const TDesignedWindow&) = delete;

    // Runs FormCreate; then, unless the form asked not to be shown, shows the window centred with the focus on
    // Next and runs FormShow. Returns whether the window is on screen afterwards.
    bool Open();
    TFormOrvane& Form() { return *form_; }
    // The form's view of a control by its designed name; throws for a name the design does not have.
    TControl& Control(std::string_view name) const;

    std::string Name() const override { return "FormOrvane"; }
    TComponentKind Kind() const override { return TComponentKind::Form; }
    void ForEachOwned(const std::function<void(TTranslatableComponent&)>& visit) override;

protected:
    TDesignedWindow();
    void AddControl(std::string_view name, std::unique_ptr<TControl> control);
    void CreateForm(std::vector<std::string> arguments, TTimerControl& timer, TWindowServices& services,
                    AppMessageBoxHandler appMessageBox);
    // FormDestroy, after the program's boxes are no longer the window's.
    void DestroyForm();
    void Dispatch(void (TFormOrvane::*handler)());
    // Runs work that may end a handler's run (queued work from another thread) as a handler.
    void RunAsHandler(const std::function<void()>& work);
    // The list's change guard, as the form answers it.
    bool RowMayChange(int row);
    // The form's handler for a click of the button; none for Back, which has no action.
    static void (TFormOrvane::*ClickHandler(std::string_view button))();
    // Presses the button as a click does, as long as it is there to be pressed; returns whether it was.
    bool Press(std::string_view button);
    // Esc presses Cancel; Enter presses the button that has the focus, else Next.
    bool PressEscape() { return Press("ButtonCancel"); }
    bool PressEnter(std::string_view focused);
    // Ends the message loop once the window has closed and no handler runs any more: a box still open then
    // would otherwise take the loop's end and drop it.
    void QuitWhenClosed();
    bool looping_ = false;

    virtual bool TerminatesBeforeShowing() const = 0;
    virtual void ShowCentred() = 0;
    virtual void FocusNext() = 0;
    virtual bool Shown() const = 0;
    virtual void EndLoop() = 0;
    // After FormCreate, once the language is known.
    virtual void LanguageChosen() {}

private:
    std::vector<std::pair<std::string, std::unique_ptr<TControl>>> controls_;
    AppMessageBoxHandler previousMessageBox_;
    std::unique_ptr<TFormOrvane> form_;
    int handlersRunning_ = 0;
};
