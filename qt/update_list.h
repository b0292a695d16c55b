#pragma once
// The wizard's update list in Qt: a two-column report of rows with a check mark, a status text and a small
// image. Every change of a row's state (its check mark, its selection, the focus) is first put to a guard, so a
// row the guard refuses keeps its state whether the change comes from a click, the keyboard or the program.
#include <QAbstractTableModel>
#include <QIcon>
#include <QItemSelectionModel>
#include <QTreeView>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "UnitOrvane/controls.h"
#include "UnitOrvane/window_design.h"
#include "qt/qt_controls.h"

// Answers whether the row's state may change.
using TRowChangeGuard = std::function<bool(int row)>;

class TUpdateListModel : public QAbstractTableModel {
public:
    enum Column { ProductColumn = 0, StatusColumn = 1 };

    TUpdateListModel(std::vector<QIcon> images, QObject* parent);

    void SetGuard(TRowChangeGuard guard) { guard_ = std::move(guard); }
    bool AllowsChange(int row) const { return !guard_ || guard_(row); }

    void Clear();
    int AddRow(const QString& caption);
    const QString& Caption(int row) const { return rows_.at(static_cast<size_t>(row)).caption; }
    bool Checked(int row) const { return rows_.at(static_cast<size_t>(row)).checked; }
    int Image(int row) const { return rows_.at(static_cast<size_t>(row)).image; }
    void SetImage(int row, int image);
    const QString& Status(int row) const { return rows_.at(static_cast<size_t>(row)).status; }
    void SetStatus(int row, const QString& status);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // Only the check mark can be set, and only when the guard allows it.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role) override;

private:
    struct Row {
        QString caption;
        QString status;
        bool checked = false;
        int image = 0;
    };
    Row& At(int row) { return rows_.at(static_cast<size_t>(row)); }
    void RowChanged(int row, Column first, Column last, const QList<int>& roles);

    std::vector<Row> rows_;
    std::array<QString, 2> headers_{QString::fromLatin1(DesignedListColumns[0].Caption),
                                    QString::fromLatin1(DesignedListColumns[1].Caption)};
    std::vector<QIcon> images_;
    TRowChangeGuard guard_;
};

// Selection and focus that leave refused rows as they are.
class TGuardedSelectionModel : public QItemSelectionModel {
public:
    explicit TGuardedSelectionModel(TUpdateListModel* model);

    void setCurrentIndex(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override;
    using QItemSelectionModel::select;  // the single-index form comes here through the range form
    void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override;

private:
    // The rows of the selection whose state may change.
    QItemSelection AllowedPart(const QItemSelection& selection) const;

    TUpdateListModel* list_;
};

// The report view with its model, as the form's list control.
class TQtListView : public TQtWidgetControl<QTreeView, TListViewControl>, public TColumnCaptions {
public:
    TQtListView(QTreeView* view, TUpdateListModel* model);
    TUpdateListModel& Model() { return *model_; }

    // A list shows no caption of its own.
    void SetCaption(const std::string&) override {}
    std::string Caption() const override { return {}; }
    int ColumnCount() const override { return model_->columnCount(); }
    void SetColumnCaption(int column, const std::string& caption) override {
        model_->setHeaderData(column, Qt::Horizontal, QString::fromStdString(caption), Qt::EditRole);
    }

    void Clear() override { model_->Clear(); }
    int AddRow(const std::string& caption) override;
    int RowCount() const override { return model_->rowCount(); }
    std::string RowCaption(int row) const override { return model_->Caption(row).toStdString(); }
    bool Checked(int row) const override { return model_->Checked(row); }
    void SetChecked(int row, bool checked) override;
    int ImageIndex(int row) const override { return model_->Image(row); }
    void SetImageIndex(int row, int image) override { model_->SetImage(row, image); }
    std::string Status(int row) const override { return model_->Status(row).toStdString(); }
    void SetStatus(int row, const std::string& status) override;

private:
    TUpdateListModel* model_;
};

// A report view over the model: the designed columns, check boxes, small images, read-only captions.
QTreeView* CreateUpdateListView(TUpdateListModel* model, QWidget* parent);
