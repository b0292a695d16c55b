#include "qt/translatable_form.h"

namespace {

// One owned component, wrapped for the time of a visit.
class TOwnedAdapter : public TTranslatableComponent {
public:
    explicit TOwnedAdapter(const TOwnedComponent& component) : component_(component) {}

    std::string Name() const override { return component_.Name; }
    TComponentKind Kind() const override { return component_.Kind; }
    void SetCaption(const std::string& caption) override {
        if (component_.Control) component_.Control->SetCaption(caption);
    }
    int ColumnCount() const override { return component_.Columns ? component_.Columns->columnCount() : 0; }
    void SetColumnCaption(int index, const std::string& caption) override {
        component_.Columns->setHeaderData(index, Qt::Horizontal, QString::fromStdString(caption));
    }
    void ForEachOwned(const std::function<void(TTranslatableComponent&)>&) override {}

private:
    const TOwnedComponent& component_;
};

}  // namespace

TQtTranslatableForm::TQtTranslatableForm(QWidget* window, std::vector<TOwnedComponent> owned)
    : window_(window), owned_(std::move(owned)) {}

void TQtTranslatableForm::ForEachOwned(const std::function<void(TTranslatableComponent&)>& visit) {
    for (const TOwnedComponent& component : owned_) {
        TOwnedAdapter adapter(component);
        visit(adapter);
    }
}
