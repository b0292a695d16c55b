// The wizard's real Qt window, drawn offscreen: the driver through which the walk-through suite drives it (real
// mouse clicks and key presses through QTest, screenshots in build/screenshots), and what only Qt decides: every
// page text within its room, and boxes in the window's font.
#include "qt/wizard_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QThread>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "OVCommon/OVCommon.h"
#include "qt/update_list.h"
#include "tests/support/wizard_window_fixture.h"

// Failures show texts as text.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace testsupport {

const char* const WizardTestMainExe = "orvane-qt-test-main";

namespace {

namespace fs = std::filesystem;

// One application for the whole test program, drawing into memory.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { application_.reset(); }

private:
    char name_[16] = "qt_window_test";
    char* argv_[2] = {name_, nullptr};
    int argc_ = 1;
    std::unique_ptr<QApplication> application_;
};
[[maybe_unused]] const auto* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void SavePicture(QWidget& widget, const std::string& name) {
    fs::create_directories(ORVANE_SCREENSHOT_FOLDER);
    const QString file = QString::fromStdString(std::string(ORVANE_SCREENSHOT_FOLDER) + "/" + name + ".png");
    EXPECT_TRUE(widget.grab().save(file)) << name;
}

// Types a letter as a keyboard with its language does: Qt names letter keys by their upper-case code point (QTest
// knows the Latin ones only).
void TypeLetter(QWidget* widget, const std::string& letter) {
    const QString text = QString::fromStdString(letter);
    const auto key = static_cast<int>(text.toUpper().at(0).unicode());
    for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent event(type, key, Qt::NoModifier, text);
        QApplication::sendEvent(widget, &event);
    }
}

class TQtWizardDriver : public TWizardDriver {
public:
    explicit TQtWizardDriver(std::vector<std::string> arguments)
        : window_(std::make_unique<TWizardWindow>(std::move(arguments))) {
        QObject::connect(&boxWatch_, &QTimer::timeout, [this] { LookForBox(); });
        boxWatch_.start(20);
    }

    TDesignedWindow& Window() override { return *window_; }
    void Click(std::string_view button) override { QTest::mouseClick(&Widget(button), Qt::LeftButton); }

    void PressKey(TKey key) override {
        QWidget* focused = FocusWidget();
        const Qt::Key keys[] = {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Up, Qt::Key_Space};
        QTest::keyClick(focused ? focused : &window_->Window(), keys[static_cast<int>(key)]);
    }

    std::string Focused() override {
        const QWidget* focused = FocusWidget();
        return focused && window_->Window().isAncestorOf(focused) ? focused->objectName().toStdString() : "";
    }

    void ClickCheckBox(int row) override {
        QTest::mouseClick(List().viewport(), Qt::LeftButton, {}, CheckBoxCentre(row));
    }
    void ClickRow(int row) override {
        const QRect cell = List().visualRect(List().model()->index(row, 0));
        QTest::mouseClick(List().viewport(), Qt::LeftButton, {}, {cell.right() - cell.width() / 4, cell.center().y()});
    }
    bool RowSelected(int row) override { return List().selectionModel()->isRowSelected(row, {}); }
    int FocusedRow() override { return List().currentIndex().row(); }

    TDesignedRect Place(std::string_view control) override {
        const QRect place = Widget(control).geometry();
        return {place.x(), place.y(), place.width(), place.height()};
    }
    TDesignedRect ClientArea() override { return {0, 0, window_->Window().width(), window_->Window().height()}; }
    // Qt lays the window out in its own device-independent pixels.
    int Dpi() override { return DesignedDpi; }
    std::string Title() override { return window_->Window().windowTitle().toStdString(); }
    std::string ColumnCaption(int column) override {
        return List().model()->headerData(column, Qt::Horizontal).toString().toStdString();
    }
    bool Shown() override { return window_->Window().isVisible(); }
    void CloseBox() override { window_->Window().close(); }

    void PumpOnce() override { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); }

    void Watch(const std::function<void()>& tick, const std::function<void()>& action) override {
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, tick);
        watch.start(50);
        action();
    }

    // A timer is not run again while its own handler runs, so the start and the ticks need a timer each.
    int Exec(const std::function<void()>& start, const std::function<void()>& tick,
             std::chrono::milliseconds limit) override {
        QTimer::singleShot(0, start);
        QTimer ticks;
        QObject::connect(&ticks, &QTimer::timeout, tick);
        ticks.start(20);
        QTimer::singleShot(limit, [] { QCoreApplication::exit(2); });
        return window_->Exec();
    }

    bool OnWindowThread() override { return QThread::currentThread() == qApp->thread(); }
    void Screenshot(const std::string& name) override { SavePicture(window_->Window(), name); }

    void DestroyWindow() override { window_.reset(); }

    TWizardWindow& Wizard() { return *window_; }

private:
    QWidget& Widget(std::string_view name) { return window_->Widget(name); }
    // The platform activates a window shown a moment after, and the offscreen one does not give the activation
    // back when a box closes, as a desktop does; keys reach the window only while it is active.
    QWidget* FocusWidget() {
        window_->Window().activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window_->Window()));
        return QApplication::focusWidget();
    }
    QTreeView& List() { return static_cast<QTreeView&>(Widget("ListViewItems")); }

    // The centre of a row's check box, where the style draws it.
    QPoint CheckBoxCentre(int row) {
        QTreeView& view = List();
        QStyleOptionViewItem option;
        option.initFrom(&view);
        option.rect = view.visualRect(view.model()->index(row, 0));
        option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay |
                          QStyleOptionViewItem::HasDecoration;
        option.decorationSize = view.iconSize();
        return view.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &view).center();
    }

    void LookForBox() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        // A box answered with a key stays a moment while its button animates the click.
        if (!box || box->property("answered").toBool()) return;
        box->setProperty("answered", true);
        TBoxSeen seen{box->windowTitle().toStdString(), box->text().toStdString(), {}, OnWindowThread(),
                      window_ && box->parentWidget() == &window_->Window()};
        QList<QAbstractButton*> buttons = box->buttons();
        std::sort(buttons.begin(), buttons.end(), [](auto* a, auto* b) { return a->x() < b->x(); });
        for (const QAbstractButton* button : buttons) seen.Buttons.push_back(button->text().toStdString());
        AnswerBox(seen, {[box](const std::string& name) { SavePicture(*box, name); },
                         [box](const std::string& key) {
                             if (key == "Enter") QTest::keyClick(box, Qt::Key_Return);
                             else TypeLetter(box, key);
                         },
                         [box] { box->reject(); }});
    }

    std::unique_ptr<TWizardWindow> window_;
    QTimer boxWatch_;
};

}  // namespace

std::unique_ptr<TWizardDriver> OpenWizardDriver(std::vector<std::string> arguments) {
    return std::make_unique<TQtWizardDriver>(std::move(arguments));
}

namespace {

class QtWizardWindow : public WizardWindowTest {};

TEST_F(QtWizardWindow, EveryPageTextFitsItsRoomAndBoxesTakeTheWindowsFont) {
    for (const std::string language : {"English", "Russian"}) {
        SCOPED_TRACE(language);
        PrepareProgramFolder(language);
        TFileLocalizer expected(ORVANE_LANGUAGE_FOLDER);
        expected.SetLanguage(language);
        const auto message = [&](const char* key) { return QString::fromStdString(expected.GetMessage(key)); };
        TQtWizardDriver driver({"orvane"});
        ASSERT_TRUE(driver.Open());
        TWizardWindow& wizard = driver.Wizard();

        // Each page's text within its room: the whole label, or above the list where the list shows.
        auto& status = static_cast<QLabel&>(wizard.Widget("LabelStatus"));
        for (const char* key : {"MsgOV1", "MsgOV2", "MsgOV16"}) {
            status.setText(message(key));
            EXPECT_LE(status.heightForWidth(status.width()), status.height()) << key;
        }
        const int aboveList = wizard.Widget("ListViewItems").y() - status.y();
        for (const char* key : {"MsgOV8", "MsgOV12", "MsgOV14"}) {
            status.setText(message(key));
            EXPECT_LE(status.heightForWidth(status.width()), aboveList) << key;
        }
        // Row status texts within their column, the downloading one with a size of the widest kind.
        auto& view = static_cast<QTreeView&>(wizard.Widget("ListViewItems"));
        const int textMargins = 2 * (view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1);
        const std::string widestSize = FormatText(expected.GetMessage("MsgOV6"), {int64_t{1023}, int64_t{9}});
        const QString downloading = QString::fromStdString(FormatText(expected.GetMessage("MsgOV15"), {widestSize}));
        for (const QString& text : {message("MsgOV9"), message("MsgOV10"), message("MsgOV13"), message("MsgOV17"),
                                    message("MsgOV18"), downloading}) {
            EXPECT_LE(view.fontMetrics().horizontalAdvance(text), view.columnWidth(1) - textMargins)
                << text.toStdString();
        }

        // A box is a window of its own, which does not take its owner's font by itself.
        const QFont font = wizard.Window().font();
        QFont boxFont;
        driver.ExpectBox("Enter", [&](const TBoxSeen&) { boxFont = QApplication::activeModalWidget()->font(); });
        wizard.Form().Controls.Window->MessageBox("?", "Orvane", MB_YESNO | MB_ICONWARNING);
        EXPECT_EQ(boxFont.toString(), font.toString());
    }
}

}  // namespace

}  // namespace testsupport
