#pragma once
// The form's controls over Qt widgets: labels, buttons and panels take their caption as text; the progress bar
// keeps its position inside its range; the timer is a QTimer.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <string>

#include "UnitOrvane/controls.h"

// Visible and Enabled are the control's own settings, as designed, whatever its window shows at the moment.
template <class TWidget, class TInterface = TControl>
class TQtWidgetControl : public TInterface {
public:
    explicit TQtWidgetControl(TWidget* widget) : widget_(widget) {}
    void SetVisible(bool visible) override { widget_->setVisible(visible); }
    bool Visible() const override { return !widget_->isHidden(); }
    void SetEnabled(bool enabled) override { widget_->setEnabled(enabled); }
    bool Enabled() const override { return !widget_->testAttribute(Qt::WA_Disabled); }

protected:
    TWidget* widget_;
};

// A label, button or panel. An auto-sized label fits itself to each new caption.
template <class TWidget>
class TQtCaptionControl : public TQtWidgetControl<TWidget> {
public:
    explicit TQtCaptionControl(TWidget* widget, bool autoSize = false)
        : TQtWidgetControl<TWidget>(widget), autoSize_(autoSize) {}
    void SetCaption(const std::string& caption) override {
        this->widget_->setText(QString::fromStdString(caption));
        if (autoSize_) this->widget_->adjustSize();
    }
    std::string Caption() const override { return this->widget_->text().toStdString(); }

private:
    bool autoSize_;
};

class TQtProgressBar : public TQtWidgetControl<QProgressBar, TProgressBarControl> {
public:
    using TQtWidgetControl::TQtWidgetControl;
    // A progress bar shows no caption.
    void SetCaption(const std::string&) override {}
    std::string Caption() const override { return {}; }

    void SetRange(int minimum, int maximum) override { widget_->setRange(minimum, maximum); }
    int Maximum() const override { return widget_->maximum(); }
    // A position beyond the range stops at its end instead of being ignored.
    void SetPosition(int position) override {
        widget_->setValue(std::clamp(position, widget_->minimum(), widget_->maximum()));
    }
    int Position() const override { return widget_->value(); }
};

class TQtTimer : public TTimerControl {
public:
    explicit TQtTimer(QTimer* timer) : timer_(timer) {}
    void SetEnabled(bool enabled) override { enabled ? timer_->start() : timer_->stop(); }
    bool Enabled() const override { return timer_->isActive(); }

private:
    QTimer* timer_;
};
