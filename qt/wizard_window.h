#pragma once
// The update wizard's window in Qt Widgets: the designed controls (UnitOrvane/window_design.h) at their places,
// forwarding every event to the toolkit-neutral form. While the window exists, the program's message boxes
// (AppMessageBox) are real boxes.
#include <QCoreApplication>
#include <QTimer>
#include <QTranslator>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "UnitOrvane/UnitOrvane.h"
#include "UnitOrvane/window_design.h"
#include "qt/qt_controls.h"
#include "qt/window_services.h"

class TQtListView;

class TWizardWindow : public TDesignedWindow {
public:
    // Builds the window (not shown yet) and its form; arguments are the program's, element 0 the program.
    explicit TWizardWindow(std::vector<std::string> arguments);
    // FormDestroy runs here, once no more work from other threads can reach the window.
    ~TWizardWindow() override;

    // Opens the window and runs the application's message loop until the window has closed and the handler
    // running then has returned; the exit status.
    int Exec();
    QWidget& Window() { return *window_; }
    // The window's widget of a designed control.
    QWidget& Widget(std::string_view name) const;

    void SetCaption(const std::string& caption) override { window_->setWindowTitle(QString::fromStdString(caption)); }

protected:
    bool TerminatesBeforeShowing() const override { return services_.TerminatesBeforeShowing(); }
    void ShowCentred() override;
    void FocusNext() override;
    bool Shown() const override { return window_->isVisible(); }
    void EndLoop() override { QCoreApplication::exit(0); }
    // The texts that Qt draws itself follow the language file, which names its language's code.
    void LanguageChosen() override;

private:
    void CreateControl(const TDesignedControl& design);
    void ConnectEvents();

    std::unique_ptr<QWidget> window_;
    QTimer* timer_;
    TQtTimer tmrSched_;
    TQtWindowServices services_;
    TQtListView* list_ = nullptr;
    std::unique_ptr<QTranslator> toolkitTranslation_;
};
