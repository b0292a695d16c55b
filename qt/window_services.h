#pragma once
// What the wizard's window does for the form beyond its controls, in Qt: queued work reaches the window's thread
// through a receiver object that lives there.
#include <QObject>
#include <QWidget>

#include <memory>
#include <string>

#include "UnitOrvane/window_services.h"

class TQtWindowServices : public TQueuedWindowServices {
public:
    explicit TQtWindowServices(QWidget* window);

    // With ORVANE_SCREENSHOT naming a PNG file, the window's last page is saved there before it closes, so an
    // unattended run leaves a picture of how it ended.
    void Close() override;
    void ProcessMessages() override;

protected:
    void Announce() override;
    bool OnWindowThread() const override;
    // A QMessageBox in the window's font, its buttons labelled as the language file says.
    int ShowBox(const std::string& text, const std::string& caption, unsigned flags) override;
    void OpenDocument(const std::string& file) override;

private:
    QWidget* window_;
    // Work announced to a receiver that has gone away is dropped by Qt.
    std::unique_ptr<QObject> receiver_;
};
