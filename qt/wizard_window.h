#pragma once
// The update wizard's window in Qt Widgets: the designed controls at their places, forwarding every event to
// the toolkit-neutral form (UnitOrvane) through its Dispatch, and serving the form through the controls
// interface. While the window exists, the program's message boxes (AppMessageBox) are real boxes.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "OVCommon/OVCommon.h"
#include "UnitOrvane/UnitOrvane.h"
#include "qt/qt_controls.h"
#include "qt/translatable_form.h"
#include "qt/update_list.h"
#include "qt/window_services.h"

// The widgets of the window, by their designed names; the window owns them.
struct TWizardWidgets {
    QWidget* FormOrvane = nullptr;
    QLabel* lblWelcometoOrvane = nullptr;
    QLabel* LabelStatus = nullptr;
    QLabel* LabelUpdate = nullptr;
    QLabel* Panel1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Panel2 = nullptr;
    QPushButton* ButtonBack = nullptr;
    QPushButton* ButtonNext = nullptr;
    QPushButton* ButtonCancel = nullptr;
    QPushButton* ButtonHelp = nullptr;
    QProgressBar* ProgressBar = nullptr;
    TUpdateListModel* ListModel = nullptr;
    QTreeView* ListViewItems = nullptr;
    QTimer* tmrSched = nullptr;
};

class TWizardWindow {
public:
    // Builds the window (not shown yet) and its form; arguments are the program's, element 0 the program.
    explicit TWizardWindow(std::vector<std::string> arguments);
    // FormDestroy runs here, once no more work from other threads can reach the window.
    ~TWizardWindow();
    TWizardWindow(const TWizardWindow&) = delete;
    TWizardWindow& operator=(const TWizardWindow&) = delete;

    // Runs FormCreate; then, unless the form asked not to be shown, shows the window centred and runs FormShow.
    // Returns whether the window is on screen afterwards.
    bool Open();
    // Opens the window and runs the application's message loop until the window has closed and the handler
    // running then has returned; the exit status.
    int Exec();

    TFormOrvane& Form() { return *form_; }
    QWidget& Window() { return *window_; }

private:
    void ConnectEvents();
    void LoadToolkitTranslation();
    void Dispatch(void (TFormOrvane::*handler)());
    // Ends the message loop of Exec once the window has closed and no handler runs any more.
    void QuitWhenClosed();
    TFormOrvaneControls FormControls();
    std::vector<TOwnedComponent> OwnedComponents();

    std::unique_ptr<QWidget> window_;
    TWizardWidgets widgets_;
    TQtCaptionControl<QLabel> lblWelcometoOrvane_;
    TQtCaptionControl<QLabel> LabelStatus_;
    TQtCaptionControl<QLabel> LabelUpdate_;
    TQtCaptionControl<QLabel> Panel1_;
    TQtCaptionControl<QLabel> Panel2_;
    TQtCaptionControl<QPushButton> ButtonBack_;
    TQtCaptionControl<QPushButton> ButtonNext_;
    TQtCaptionControl<QPushButton> ButtonCancel_;
    TQtCaptionControl<QPushButton> ButtonHelp_;
    TQtProgressBar ProgressBar_;
    TQtListView ListViewItems_;
    TQtTimer tmrSched_;
    TQtWindowServices services_;
    TQtTranslatableForm translatable_;
    AppMessageBoxHandler previousMessageBox_;
    std::unique_ptr<TFormOrvane> form_;
    std::unique_ptr<QTranslator> toolkitTranslation_;
    bool looping_ = false;
    int handlersRunning_ = 0;
};
