#include "qt/wizard_window.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QScreen>
#include <QShortcut>

#include "qt/pictures.h"
#include "qt/update_list.h"

namespace {

// Only the system menu and the close box: the window has a fixed size.
constexpr Qt::WindowFlags FixedDialogFlags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                             Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                             Qt::MSWindowsFixedSizeDialogHint;

std::unique_ptr<QWidget> CreateFormWindow() {
    auto window = std::make_unique<QWidget>(nullptr, FixedDialogFlags);
    window->setObjectName(QStringLiteral("FormOrvane"));
    window->setWindowTitle(QString::fromLatin1(DesignedTitle));
    window->setFixedSize(DesignedClientWidth, DesignedClientHeight);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(DesignedFontPixels);
    window->setFont(font);
    return window;
}

QLabel* Label(const TDesignedControl& design, QWidget* parent) {
    auto* label = new QLabel(QString::fromLatin1(design.Caption), parent);
    switch (design.Kind) {
        case TDesignedKind::Heading: {
            QFont bold = parent->font();
            bold.setBold(true);
            label->setFont(bold);
            break;
        }
        case TDesignedKind::Text:
            label->setWordWrap(true);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            break;
        case TDesignedKind::Separator:
            label->setFrameStyle(QFrame::HLine | QFrame::Sunken);
            break;
        default:
            break;
    }
    return label;
}

QProgressBar* ProgressBar(QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setTextVisible(false);
    bar->setValue(0);
    return bar;
}

void CentreOnScreen(QWidget& window) {
    if (const QScreen* screen = window.screen()) {
        window.move(screen->availableGeometry().center() - window.rect().center());
    }
}

}  // namespace

TWizardWindow::TWizardWindow(std::vector<std::string> arguments)
    : window_(CreateFormWindow()), timer_(new QTimer(window_.get())), tmrSched_(timer_), services_(window_.get()) {
    for (const TDesignedControl& design : WizardDesign) CreateControl(design);
    timer_->setObjectName(QStringLiteral("tmrSched"));
    timer_->setInterval(SchedulerInterval);
    timer_->start();
    CreateForm(std::move(arguments), tmrSched_, services_,
               [this](const std::string& text, unsigned style) { return services_.AppMessageBox(text, style); });
    ConnectEvents();
}

TWizardWindow::~TWizardWindow() {
    services_.Detach();
    DestroyForm();
    // The widgets outlive the form: nothing they do while they go away may ask it anything.
    list_->Model().SetGuard({});
}

QWidget& TWizardWindow::Widget(std::string_view name) const {
    const QString objectName = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    auto* widget = window_->findChild<QWidget*>(objectName);
    if (!widget) throw std::out_of_range("the wizard window has no control " + std::string(name));
    return *widget;
}

void TWizardWindow::CreateControl(const TDesignedControl& design) {
    QWidget* parent = design.Parent ? &Widget(design.Parent) : window_.get();
    QWidget* widget = nullptr;
    switch (design.Kind) {
        case TDesignedKind::Heading:
        case TDesignedKind::AutoLabel: {
            QLabel* label = Label(design, parent);
            AddControl(design.Name, std::make_unique<TQtCaptionControl<QLabel>>(label, true));
            widget = label;
            break;
        }
        case TDesignedKind::Text:
        case TDesignedKind::Panel:
        case TDesignedKind::Separator: {
            QLabel* label = Label(design, parent);
            AddControl(design.Name, std::make_unique<TQtCaptionControl<QLabel>>(label));
            widget = label;
            break;
        }
        case TDesignedKind::Picture: {
            QLabel* picture = Label(design, parent);
            picture->setPixmap(WizardPicture(QSize(design.Place.Width, design.Place.Height)));
            widget = picture;
            break;
        }
        case TDesignedKind::Button: {
            auto* button = new QPushButton(QString::fromLatin1(design.Caption), parent);
            AddControl(design.Name, std::make_unique<TQtCaptionControl<QPushButton>>(button));
            widget = button;
            break;
        }
        case TDesignedKind::ProgressBar: {
            QProgressBar* bar = ProgressBar(parent);
            AddControl(design.Name, std::make_unique<TQtProgressBar>(bar));
            widget = bar;
            break;
        }
        case TDesignedKind::List: {
            auto* model = new TUpdateListModel(RowImages(), parent);
            QTreeView* view = CreateUpdateListView(model, parent);
            auto list = std::make_unique<TQtListView>(view, model);
            list_ = list.get();
            AddControl(design.Name, std::move(list));
            widget = view;
            break;
        }
    }
    widget->setObjectName(QString::fromLatin1(design.Name));
    widget->setGeometry(design.Place.Left, design.Place.Top, design.Place.Width, design.Place.Height);
    if (design.Kind == TDesignedKind::AutoLabel) widget->adjustSize();
}

void TWizardWindow::ShowCentred() {
    CentreOnScreen(*window_);
    window_->show();
}

void TWizardWindow::FocusNext() {
    window_->activateWindow();
    Widget("ButtonNext").setFocus(Qt::ActiveWindowFocusReason);
}

void TWizardWindow::LanguageChosen() {
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

// Qt's own quit on the last window's close is a posted event, which a box still open then (an error box after a
// Cancel, say) takes and drops: the window ends the loop itself once it has closed (QuitWhenClosed).
void TWizardWindow::ConnectEvents() {
    QWidget* window = window_.get();
    for (const TDesignedControl& design : WizardDesign) {
        const auto handler = ClickHandler(design.Name);
        if (!handler) continue;
        QObject::connect(static_cast<QPushButton*>(&Widget(design.Name)), &QPushButton::clicked, window,
                         [this, handler] { Dispatch(handler); });
    }
    QObject::connect(timer_, &QTimer::timeout, window, [this] { Dispatch(&TFormOrvane::tmrSchedTimer); });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    QObject::connect(escape, &QShortcut::activated, window, [this] { PressEscape(); });
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* enter = new QShortcut(QKeySequence(key), window);
        QObject::connect(enter, &QShortcut::activated, window, [this] {
            const QWidget* focused = window_->focusWidget();
            PressEnter(qobject_cast<const QPushButton*>(focused) ? focused->objectName().toStdString() : "");
        });
    }
    list_->Model().SetGuard([this](int row) { return RowMayChange(row); });
}
