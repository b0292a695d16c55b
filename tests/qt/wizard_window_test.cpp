// The wizard's real Qt window, drawn offscreen: captions from the language files, the list's change guard through
// the real widgets, the boxes and the work that reach the window's thread, the language of the boxes, the end of
// the message loop after a Cancel, and a screenshot of every page (in build/screenshots) for a reviewer.
#include "qt/wizard_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTest>
#include <QThread>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <thread>

#include "OVCommon/OVCommon.h"
#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wizard_window_fixture.h"
#include "tests/support/zip_writer.h"

// Failures show texts as text.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
void PrintTo(const QFont& font, std::ostream* out) { *out << font.toString().toStdString(); }

namespace {

namespace fs = std::filesystem;
using testsupport::Package;
using testsupport::WriteFile;

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

// Handles the window's events until the condition holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Answers the next modal message box with the button, after letting the test look at it.
void AnswerNextBox(QMessageBox::StandardButton button, std::function<void(QMessageBox&)> inspect) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, button, inspect] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        poll->deleteLater();
        poll->stop();
        inspect(*box);
        box->button(button)->click();
    });
    poll->start(20);
}

// Bytes that deflate cannot shrink, so that a zip package takes as long to arrive as its file.
std::string Noise(size_t size) {
    std::mt19937 random(7);
    std::string content(size, '\0');
    for (char& byte : content) byte = static_cast<char>(random());
    return content;
}

class WizardWindow : public testsupport::WizardWindowTest {
protected:
    WizardWindow() : WizardWindowTest("orvane-qt-test-main") {}

    template <class TWidget>
    static TWidget* Child(TWizardWindow& wizard, const char* name) {
        auto* widget = wizard.Window().findChild<TWidget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    static void Screenshot(TWizardWindow& wizard, const std::string& name) {
        fs::create_directories(ORVANE_SCREENSHOT_FOLDER);
        const QString file = QString::fromStdString(std::string(ORVANE_SCREENSHOT_FOLDER) + "/" + name + ".png");
        EXPECT_TRUE(wizard.Window().grab().save(file)) << name;
    }

    static void Click(TWizardWindow& wizard, const char* button) {
        QTest::mouseClick(Child<QPushButton>(wizard, button), Qt::LeftButton);
    }

};

// The centre of a row's check box, where the style draws it.
QPoint CheckBoxCentre(QTreeView* view, int row) {
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.rect = view->visualRect(view->model()->index(row, 0));
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay |
                      QStyleOptionViewItem::HasDecoration;
    option.decorationSize = view->iconSize();
    return view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, view).center();
}

// A point on the row's caption, right of its check box and image.
QPoint CaptionPoint(QTreeView* view, int row) {
    const QRect cell = view->visualRect(view->model()->index(row, 0));
    return {cell.right() - cell.width() / 4, cell.center().y()};
}

bool RowSelected(QTreeView* view, int row) { return view->selectionModel()->isRowSelected(row, {}); }

}  // namespace

TEST_F(WizardWindow, OpensWithTheCaptionsOfItsLanguageAndFitsEveryPageText) {
    for (const std::string language : {"English", "Russian"}) {
        SCOPED_TRACE(language);
        PrepareProgramFolder(language);
        TFileLocalizer expected(ORVANE_LANGUAGE_FOLDER);
        expected.SetLanguage(language);
        const auto caption = [&](const std::string& name) {
            return QString::fromStdString(expected.Lookup("FormOrvane" + name));
        };
        const auto message = [&](const char* key) { return QString::fromStdString(expected.GetMessage(key)); };

        TWizardWindow wizard({"orvane"});
        ASSERT_TRUE(wizard.Open());
        QWidget& window = wizard.Window();
        EXPECT_NE(caption("FormOrvane"), "");
        EXPECT_EQ(window.windowTitle(), caption("FormOrvane"));
        EXPECT_EQ(window.minimumSize(), QSize(480, 314));
        EXPECT_EQ(window.maximumSize(), QSize(480, 314));
        for (const char* name : {"lblWelcometoOrvane", "LabelUpdate"}) {
            QLabel* label = Child<QLabel>(wizard, name);
            EXPECT_EQ(label->text(), caption(name));
            // The label grows with its caption instead of cutting it off.
            EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text())) << name;
        }
        for (const char* name : {"ButtonBack", "ButtonNext", "ButtonCancel", "ButtonHelp"}) {
            EXPECT_EQ(Child<QPushButton>(wizard, name)->text(), caption(name));
        }
        QHeaderView* header = Child<QTreeView>(wizard, "ListViewItems")->header();
        EXPECT_EQ(header->model()->headerData(0, Qt::Horizontal).toString() + "," +
                      header->model()->headerData(1, Qt::Horizontal).toString(),
                  caption("ListViewItems"));
        QLabel* status = Child<QLabel>(wizard, "LabelStatus");
        EXPECT_EQ(status->text(), message("MsgOV1"));

        // Each page's text within its room: the whole label, or above the list where the list shows.
        const QString shown = status->text();
        for (const char* key : {"MsgOV1", "MsgOV2", "MsgOV16"}) {
            status->setText(message(key));
            EXPECT_LE(status->heightForWidth(status->width()), status->height()) << key;
        }
        const int aboveList = Child<QTreeView>(wizard, "ListViewItems")->y() - status->y();
        for (const char* key : {"MsgOV8", "MsgOV12", "MsgOV14"}) {
            status->setText(message(key));
            EXPECT_LE(status->heightForWidth(status->width()), aboveList) << key;
        }
        status->setText(shown);
        // Row status texts within their column, the downloading one with a size of the widest kind.
        QTreeView* view = Child<QTreeView>(wizard, "ListViewItems");
        const int textMargins = 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1);
        const std::string widestSize = FormatText(expected.GetMessage("MsgOV6"), {int64_t{1023}, int64_t{9}});
        const QString downloading = QString::fromStdString(FormatText(expected.GetMessage("MsgOV15"), {widestSize}));
        for (const QString& text : {message("MsgOV9"), message("MsgOV10"), message("MsgOV13"), message("MsgOV17"),
                                    message("MsgOV18"), downloading}) {
            EXPECT_LE(view->fontMetrics().horizontalAdvance(text), view->columnWidth(1) - textMargins)
                << text.toStdString();
        }

        // The framework's box for an escaping error keeps the designed title in every language.
        bool boxSeen = false;
        AnswerNextBox(QMessageBox::Ok, [&](QMessageBox& box) {
            boxSeen = true;
            EXPECT_EQ(box.windowTitle(), "Orvane");
            EXPECT_EQ(box.text(), "The catalogue is damaged");
            EXPECT_EQ(box.icon(), QMessageBox::Critical);
        });
        wizard.Form().Dispatch([] { throw Exception("The catalogue is damaged"); });
        EXPECT_TRUE(boxSeen);
        EXPECT_TRUE(window.isVisible());
    }
}

TEST_F(WizardWindow, RequiredRowKeepsItsCheckMarkSelectionAndFocus) {
    PrepareProgramFolder("English");
    ServeCatalogue("<database>" + Entry("Virus database", "base.dat", Package(3000, 'a'), "<required/>") +
                   "</database><tools>" + Entry("Cleaning tool", "cleaner.bin", Package(700, 'k')) + "</tools>");
    TWizardWindow wizard({"orvane"});
    ASSERT_TRUE(wizard.Open());
    Click(wizard, "ButtonNext");
    ASSERT_EQ(wizard.Form().Page, 3);
    auto* view = Child<QTreeView>(wizard, "ListViewItems");
    TListViewControl& list = *wizard.Form().Controls.ListViewItems;
    ASSERT_EQ(list.RowCount(), 2);
    ASSERT_EQ(list.ImageIndex(0), riRequired);

    // Clicks on the required row change nothing: not its check mark, and neither selection nor focus.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, CheckBoxCentre(view, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, CaptionPoint(view, 0));
    EXPECT_TRUE(list.Checked(0));
    EXPECT_FALSE(RowSelected(view, 0));
    EXPECT_NE(view->currentIndex().row(), 0);
    list.SetChecked(0, false);
    EXPECT_TRUE(list.Checked(0));

    // The other row follows the mouse and the keyboard.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, CheckBoxCentre(view, 1));
    EXPECT_FALSE(list.Checked(1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, CaptionPoint(view, 1));
    EXPECT_TRUE(RowSelected(view, 1));
    EXPECT_EQ(view->currentIndex().row(), 1);
    QTest::keyClick(view, Qt::Key_Space);
    EXPECT_TRUE(list.Checked(1));

    // The focus cannot move onto the required row, so the keyboard cannot reach its check mark either.
    QTest::keyClick(view, Qt::Key_Up);
    EXPECT_EQ(view->currentIndex().row(), 1);
    EXPECT_FALSE(RowSelected(view, 0));
    QTest::keyClick(view, Qt::Key_Space);
    EXPECT_TRUE(list.Checked(0));
    EXPECT_FALSE(list.Checked(1));

    // Image and status updates are not the user's: they pass.
    list.SetStatus(0, "Installing...");
    list.SetImageIndex(0, riDone);
    EXPECT_EQ(list.Status(0), "Installing...");
    EXPECT_EQ(list.ImageIndex(0), riDone);
}

TEST_F(WizardWindow, WalksEveryPageAndLeavesAScreenshotOfEach) {
    for (const std::string language : {"English", "Russian"}) {
        SCOPED_TRACE(language);
        PrepareProgramFolder(language);
        const std::string suffix = language == "English" ? "" : "_" + language;
        const std::string database = Package(96 * 1024, 'd');
        const std::string tool = Package(2500, 't');
        WriteFile(programFolder + "obsolete.dat", "old");
        std::string damaged = Entry("Brellium program", "brellium-new", Package(5000, 'p'));
        damaged.replace(damaged.find("<crc>"), damaged.find("</crc>") - damaged.find("<crc>"), "<crc>12345");
        ServeCatalogue("<database>" + Entry("Virus database", "base.dat", database, "<required/>", true) +
                       "<entry><name>Obsolete signatures</name><filename>obsolete.dat</filename></entry>" +
                       "</database><tools>" + Entry("Cleaning tool", "Cleaner.bin", tool) + "</tools><program>" +
                       damaged + "</program>");
        TWizardWindow wizard({"orvane"});
        ASSERT_TRUE(wizard.Open());
        TFormOrvane& form = wizard.Form();
        Screenshot(wizard, "welcome" + suffix);

        // The checking page is on screen while the window handles its messages once before the request.
        int checkingPage = 0;
        QMetaObject::invokeMethod(&wizard.Window(), [&] {
            checkingPage = form.Page;
            Screenshot(wizard, "checking" + suffix);
        }, Qt::QueuedConnection);
        Click(wizard, "ButtonNext");
        EXPECT_EQ(checkingPage, 2);
        ASSERT_EQ(form.Page, 3);
        TListViewControl& list = *form.Controls.ListViewItems;
        ASSERT_EQ(list.RowCount(), 4);
        EXPECT_EQ(list.ImageIndex(0), riRequired);
        EXPECT_EQ(list.ImageIndex(1), riDatabase);
        EXPECT_EQ(list.ImageIndex(2), riTools);
        EXPECT_EQ(list.ImageIndex(3), riProgram);
        auto* view = Child<QTreeView>(wizard, "ListViewItems");
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, CheckBoxCentre(view, 2));
        EXPECT_FALSE(list.Checked(2));
        Screenshot(wizard, "list" + suffix);

        // During the slow download the row counts down what is left and the bar moves.
        bool downloadSeen = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (downloadSeen || form.Page != 4 || form.Controls.ProgressBar->Position() <= 0) return;
            downloadSeen = true;
            watch.stop();
            Screenshot(wizard, "install" + suffix);
        });
        watch.start(50);
        Click(wizard, "ButtonHelp");
        Click(wizard, "ButtonNext");
        EXPECT_TRUE(downloadSeen);
        EXPECT_EQ(testsupport::ReadFile(programFolder + "base.dat"), database);
        EXPECT_FALSE(fs::exists(programFolder + "obsolete.dat"));
        EXPECT_FALSE(fs::exists(programFolder + "Tools/Cleaner.bin"));
        EXPECT_FALSE(fs::exists(programFolder + "brellium-new"));
        EXPECT_EQ(list.ImageIndex(0), riDone);
        EXPECT_EQ(list.ImageIndex(1), riDone);
        EXPECT_EQ(list.ImageIndex(2), riDone);
        EXPECT_EQ(list.ImageIndex(3), riFailed);
        EXPECT_FALSE(Child<QProgressBar>(wizard, "ProgressBar")->isVisible());
        EXPECT_TRUE(Child<QPushButton>(wizard, "ButtonNext")->isEnabled());
        Screenshot(wizard, "install_done" + suffix);

        form.Dispatch([&] { form.ShowNoUpdatesPage(); });
        EXPECT_FALSE(view->isVisible());
        Screenshot(wizard, "finished" + suffix);
        Click(wizard, "ButtonNext");
        EXPECT_FALSE(wizard.Window().isVisible());
        EXPECT_FALSE(form.Cancelled);
    }
}

TEST_F(WizardWindow, EscPressesCancelWhileItIsEnabledAndTheCloseBoxDoesNotCancel) {
    PrepareProgramFolder("English");
    {
        TWizardWindow wizard({"orvane"});
        ASSERT_TRUE(wizard.Open());
        ASSERT_TRUE(QTest::qWaitForWindowActive(&wizard.Window()));
        QTest::keyClick(&wizard.Window(), Qt::Key_Escape);
        EXPECT_TRUE(wizard.Form().Cancelled);
        EXPECT_FALSE(wizard.Window().isVisible());
    }
    PrepareProgramFolder("English");
    {
        TWizardWindow wizard({"orvane"});
        ASSERT_TRUE(wizard.Open());
        ASSERT_TRUE(QTest::qWaitForWindowActive(&wizard.Window()));
        wizard.Form().Dispatch([&] { wizard.Form().ShowNoUpdatesPage(); });
        QTest::keyClick(&wizard.Window(), Qt::Key_Escape);
        EXPECT_TRUE(wizard.Window().isVisible());
        wizard.Window().close();
        EXPECT_FALSE(wizard.Window().isVisible());
        EXPECT_FALSE(wizard.Form().Cancelled);
    }
}

TEST_F(WizardWindow, BoxesAndWorkFromOtherThreadsReachTheWindowThreadWhileItExists) {
    PrepareProgramFolder("Russian");
    bool lateWorkRan = false;
    {
        TWizardWindow wizard({"orvane"});
        ASSERT_TRUE(wizard.Open());
        TWindowServices& services = *wizard.Form().Controls.Window;

        AnswerNextBox(QMessageBox::Yes, [](QMessageBox& box) {
            EXPECT_EQ(box.windowTitle(), "Orvane");
            EXPECT_EQ(box.text(), "Close it now?");
            EXPECT_EQ(box.icon(), QMessageBox::Warning);
            EXPECT_EQ(QThread::currentThread(), qApp->thread());
        });
        std::atomic<int> answer{0};
        std::thread asking([&] { answer = AppMessageBox("Close it now?", MB_YESNO | MB_ICONWARNING); });
        EXPECT_TRUE(WaitUntil([&] { return answer != 0; }));
        asking.join();
        EXPECT_EQ(answer, IDYES);

        std::atomic<bool> ranOnWindowThread{false};
        std::thread posting([&] {
            services.RunOnWindowThread([&] { ranOnWindowThread = QThread::currentThread() == qApp->thread(); });
        });
        posting.join();
        EXPECT_TRUE(WaitUntil([&] { return ranOnWindowThread.load(); }));

        services.RunOnWindowThread([&] { lateWorkRan = true; });
    }
    // The window went away before its thread handled the work: the work is dropped.
    QCoreApplication::processEvents();
    EXPECT_FALSE(lateWorkRan);
}

TEST_F(WizardWindow, CancelDuringAZipDownloadEndsTheProgramOnceItsBoxIsAnswered) {
    PrepareProgramFolder("English");
    const std::string database = Noise(2 << 20);
    ServeCatalogue("<database>" +
                   Entry("Virus database", "base.dat", database, "", true, testsupport::ZipArchive({{"base.dat", database}})) +
                   "</database>");
    std::vector<std::string> boxes;
    int cancelledAt = 0;
    bool timedOut = false;
    {
        TWizardWindow wizard({"orvane"});
        TFormOrvane& form = wizard.Form();
        // The user: Next to the list and Next to install; meanwhile Cancel once the package is arriving, and OK
        // on every box. A timer is not run again while its own handler runs, so the two need a timer each.
        QTimer::singleShot(0, [&] {
            Click(wizard, "ButtonNext");
            Click(wizard, "ButtonNext");
        });
        QTimer user;
        QObject::connect(&user, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes.push_back(box->text().toStdString());
                box->buttons().front()->click();
            } else if (form.Page == 4 && !form.Cancelled && form.Controls.ProgressBar->Position() > 0) {
                cancelledAt = form.Controls.ProgressBar->Position();
                Click(wizard, "ButtonCancel");
            }
        });
        user.start(20);
        QTimer::singleShot(std::chrono::seconds(20), [&] {
            timedOut = true;
            QCoreApplication::exit(2);
        });
        EXPECT_EQ(wizard.Exec(), 0);
        EXPECT_TRUE(form.Cancelled);
    }
    EXPECT_FALSE(timedOut) << "the program went on after its window had closed";
    EXPECT_GT(cancelledAt, 0);
    EXPECT_LT(cancelledAt, static_cast<int>(database.size()) / 2) << "Cancel came too late to break off the download";
    EXPECT_FALSE(fs::exists(programFolder + "base.dat"));
    // The one box is the broken archive's: the cancelled download's failure is only logged.
    const std::string log = testsupport::ReadFile(programFolder + "OVLog.txt");
    const std::string logged = " TDownloadThread.Execute ERROR: ";
    ASSERT_NE(log.find(logged), std::string::npos) << log;
    const size_t errorStart = log.find(logged) + logged.size();
    const std::string downloadError = log.substr(errorStart, log.find("\r\n", errorStart) - errorStart);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0], downloadError);
}

TEST_F(WizardWindow, BoxesSpeakTheLanguageOfTheLanguageFileInTheWindowsFont) {
    if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_ru.qm"))
        GTEST_SKIP() << "Qt's own Russian translation is not installed";
    struct Case {
        std::string language;
        QString yes, no;
    };
    for (const Case& test : {Case{"English", "&Yes", "&No"}, Case{"Russian", "&Да", "&Нет"}}) {
        SCOPED_TRACE(test.language);
        PrepareProgramFolder(test.language);
        TWizardWindow wizard({"orvane"});
        ASSERT_TRUE(wizard.Open());
        const QFont font = wizard.Window().font();
        AnswerNextBox(QMessageBox::No, [&](QMessageBox& box) {
            EXPECT_EQ(box.button(QMessageBox::Yes)->text(), test.yes);
            EXPECT_EQ(box.button(QMessageBox::No)->text(), test.no);
            EXPECT_EQ(box.font(), font);
            fs::create_directories(ORVANE_SCREENSHOT_FOLDER);
            const std::string file = std::string(ORVANE_SCREENSHOT_FOLDER) + "/box_" + test.language + ".png";
            EXPECT_TRUE(box.grab().save(QString::fromStdString(file)));
        });
        const std::string question = FormatText(Localizer->GetMessage("MsgOV22"), {"Virus database", "brellium.exe"});
        EXPECT_EQ(wizard.Form().Controls.Window->MessageBox(question, "Orvane", MB_YESNO | MB_ICONWARNING), IDNO);
        bool errorBoxSeen = false;
        AnswerNextBox(QMessageBox::Ok, [&](QMessageBox& box) {
            errorBoxSeen = true;
            EXPECT_EQ(box.font(), font);
        });
        wizard.Form().Dispatch([] { throw Exception("The catalogue is damaged"); });
        EXPECT_TRUE(errorBoxSeen);
    }
}
