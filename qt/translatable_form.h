#pragma once
// The wizard window as the localizer sees it: the form, whose caption is the window title, and the components
// it owns by their designed names. Labels, buttons and panels take a caption; the list takes column captions.
#include <QAbstractItemModel>
#include <QWidget>

#include <string>
#include <vector>

#include "UnitOrvane/controls.h"
#include "localizer/localizer.h"

struct TOwnedComponent {
    std::string Name;
    TComponentKind Kind = TComponentKind::Other;
    TControl* Control = nullptr;              // takes the caption
    QAbstractItemModel* Columns = nullptr;    // a list view's column captions
};

class TQtTranslatableForm : public TTranslatableComponent {
public:
    TQtTranslatableForm(QWidget* window, std::vector<TOwnedComponent> owned);

    std::string Name() const override { return window_->objectName().toStdString(); }
    TComponentKind Kind() const override { return TComponentKind::Form; }
    void SetCaption(const std::string& caption) override { window_->setWindowTitle(QString::fromStdString(caption)); }
    void ForEachOwned(const std::function<void(TTranslatableComponent&)>& visit) override;

private:
    QWidget* window_;
    std::vector<TOwnedComponent> owned_;
};
