#include "qt/wizard_window.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QScreen>
#include <QShortcut>

#include "qt/pictures.h"

namespace {

constexpr QSize ClientSize(480, 314);
constexpr int FontPixels = 11;
constexpr int SchedulerInterval = 500;
constexpr int ButtonTop = 280;
constexpr QSize ButtonSize(75, 25);

// Only the system menu and the close box: the window has a fixed size.
constexpr Qt::WindowFlags FixedDialogFlags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                             Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                             Qt::MSWindowsFixedSizeDialogHint;

template <class TWidget>
TWidget* Place(TWidget* widget, const char* name, const QRect& geometry) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel* Label(QWidget* parent, const char* name, const QRect& geometry, const char* caption) {
    return Place(new QLabel(QString::fromLatin1(caption), parent), name, geometry);
}

QPushButton* Button(QWidget* parent, const char* name, int left, const char* caption) {
    return Place(new QPushButton(QString::fromLatin1(caption), parent), name, QRect(QPoint(left, ButtonTop), ButtonSize));
}

std::unique_ptr<QWidget> CreateFormWindow() {
    auto window = std::make_unique<QWidget>(nullptr, FixedDialogFlags);
    window->setObjectName(QStringLiteral("FormOrvane"));
    window->setWindowTitle(QStringLiteral("Orvane"));
    window->setFixedSize(ClientSize);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(FontPixels);
    window->setFont(font);
    return window;
}

void CreateLabels(QWidget* window, TWizardWidgets& widgets) {
    widgets.lblWelcometoOrvane = Label(window, "lblWelcometoOrvane", {136, 8, 137, 13}, "Welcome to Orvane");
    QFont bold = window->font();
    bold.setBold(true);
    widgets.lblWelcometoOrvane->setFont(bold);
    widgets.LabelStatus = Label(window, "LabelStatus", {137, 32, 335, 168}, "Update Status");
    widgets.LabelStatus->setWordWrap(true);
    widgets.LabelStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    widgets.LabelUpdate = Label(window, "LabelUpdate", {136, 232, 0, 0}, "Update status:");
    widgets.LabelUpdate->adjustSize();
}

void CreatePanels(QWidget* window, TWizardWidgets& widgets) {
    widgets.Panel1 = Label(window, "Panel1", {8, 8, 120, 257}, "");
    widgets.Image1 = Label(widgets.Panel1, "Image1", widgets.Panel1->rect(), "");
    widgets.Image1->setPixmap(WizardPicture(widgets.Image1->size()));
    widgets.Panel2 = Label(window, "Panel2", {8, 272, 465, 2}, "");
    widgets.Panel2->setFrameStyle(QFrame::HLine | QFrame::Sunken);
}

void CreateButtons(QWidget* window, TWizardWidgets& widgets) {
    widgets.ButtonBack = Button(window, "ButtonBack", 149, "< Back");
    widgets.ButtonNext = Button(window, "ButtonNext", 224, "Next >");
    widgets.ButtonCancel = Button(window, "ButtonCancel", 312, "Cancel");
    widgets.ButtonHelp = Button(window, "ButtonHelp", 400, "Help");
}

// Created after the labels, so that the list and the progress bar lie above the status text.
void CreateProgressAndList(QWidget* window, TWizardWidgets& widgets) {
    widgets.ProgressBar = Place(new QProgressBar(window), "ProgressBar", {136, 248, 337, 17});
    widgets.ProgressBar->setTextVisible(false);
    widgets.ProgressBar->setValue(0);
    widgets.ListModel = new TUpdateListModel(RowImages(), window);
    widgets.ListViewItems = Place(CreateUpdateListView(widgets.ListModel, window), "ListViewItems", {136, 64, 337, 161});
}

TWizardWidgets CreateWidgets(QWidget* window) {
    TWizardWidgets widgets;
    widgets.FormOrvane = window;
    CreateLabels(window, widgets);
    CreatePanels(window, widgets);
    CreateButtons(window, widgets);
    CreateProgressAndList(window, widgets);
    widgets.tmrSched = new QTimer(window);
    widgets.tmrSched->setObjectName(QStringLiteral("tmrSched"));
    widgets.tmrSched->setInterval(SchedulerInterval);
    widgets.tmrSched->start();
    return widgets;
}

void CentreOnScreen(QWidget& window) {
    if (const QScreen* screen = window.screen()) {
        window.move(screen->availableGeometry().center() - window.rect().center());
    }
}

}  // namespace

TWizardWindow::TWizardWindow(std::vector<std::string> arguments)
    : window_(CreateFormWindow()),
      widgets_(CreateWidgets(window_.get())),
      lblWelcometoOrvane_(widgets_.lblWelcometoOrvane, true),
      LabelStatus_(widgets_.LabelStatus),
      LabelUpdate_(widgets_.LabelUpdate, true),
      Panel1_(widgets_.Panel1),
      Panel2_(widgets_.Panel2),
      ButtonBack_(widgets_.ButtonBack),
      ButtonNext_(widgets_.ButtonNext),
      ButtonCancel_(widgets_.ButtonCancel),
      ButtonHelp_(widgets_.ButtonHelp),
      ProgressBar_(widgets_.ProgressBar),
      ListViewItems_(widgets_.ListViewItems, widgets_.ListModel),
      tmrSched_(widgets_.tmrSched),
      services_(window_.get()),
      translatable_(window_.get(), OwnedComponents()),
      previousMessageBox_(AppMessageBoxFunction),
      form_(std::make_unique<TFormOrvane>(FormControls(), translatable_, std::move(arguments))) {
    AppMessageBoxFunction = [this](const std::string& text, unsigned style) {
        return services_.AppMessageBox(text, style);
    };
    ConnectEvents();
}

TWizardWindow::~TWizardWindow() {
    services_.Detach();
    AppMessageBoxFunction = previousMessageBox_;
    Dispatch(&TFormOrvane::FormDestroy);
    // The widgets outlive the form: nothing they do while they go away may ask it anything.
    widgets_.ListModel->SetGuard({});
}

bool TWizardWindow::Open() {
    Dispatch(&TFormOrvane::FormCreate);
    LoadToolkitTranslation();
    if (services_.TerminatesBeforeShowing()) return false;
    CentreOnScreen(*window_);
    window_->show();
    Dispatch(&TFormOrvane::FormShow);
    return window_->isVisible();
}

// The texts that Qt draws itself, such as the buttons of message boxes, follow the language file, which names
// its language's code; Qt's own translation for it is used where one is installed.
void TWizardWindow::LoadToolkitTranslation() {
    const std::string code = Localizer ? Localizer->Lookup("LanguageCode") : "";
    if (code.empty()) return;
    auto translation = std::make_unique<QTranslator>();
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translation->load(QStringLiteral("qtbase_") + QString::fromStdString(code), folder)) return;
    QCoreApplication::installTranslator(translation.get());
    toolkitTranslation_ = std::move(translation);
}

int TWizardWindow::Exec() {
    if (!Open()) return 0;
    looping_ = true;
    const int status = QApplication::exec();
    looping_ = false;
    return status;
}

void TWizardWindow::Dispatch(void (TFormOrvane::*handler)()) {
    ++handlersRunning_;
    form_->Dispatch([this, handler] { (form_.get()->*handler)(); });
    --handlersRunning_;
    QuitWhenClosed();
}

// Qt's own quit on the last window's close is a posted event, which a box still open then (an error box after
// a Cancel, say) takes and drops: the program would go on without a window.
void TWizardWindow::QuitWhenClosed() {
    if (looping_ && handlersRunning_ == 0 && window_->isHidden()) QCoreApplication::exit(0);
}

void TWizardWindow::ConnectEvents() {
    QWidget* window = window_.get();
    QObject::connect(widgets_.ButtonNext, &QPushButton::clicked, window,
                     [this] { Dispatch(&TFormOrvane::ButtonNextClick); });
    QObject::connect(widgets_.ButtonCancel, &QPushButton::clicked, window,
                     [this] { Dispatch(&TFormOrvane::ButtonCancelClick); });
    QObject::connect(widgets_.ButtonHelp, &QPushButton::clicked, window,
                     [this] { Dispatch(&TFormOrvane::ButtonHelpClick); });
    QObject::connect(widgets_.tmrSched, &QTimer::timeout, window, [this] { Dispatch(&TFormOrvane::tmrSchedTimer); });
    // Esc presses Cancel, as long as Cancel is there to be pressed (a disabled button ignores the click).
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    QObject::connect(escape, &QShortcut::activated, window, [this] {
        if (!widgets_.ButtonCancel->isHidden()) widgets_.ButtonCancel->click();
    });
    widgets_.ListModel->SetGuard([this](int row) {
        bool allowed = false;
        form_->Dispatch([&] { allowed = form_->ListViewItemsChanging(row); });
        return allowed;
    });
}

TFormOrvaneControls TWizardWindow::FormControls() {
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

// In the order the window owns them. Its picture, progress bar, timer, image list and HTTP client take nothing
// from a language file, so they are not listed.
std::vector<TOwnedComponent> TWizardWindow::OwnedComponents() {
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
        {"ListViewItems", TComponentKind::ListView, nullptr, widgets_.ListModel},
    };
}
