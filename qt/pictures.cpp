#include "qt/pictures.h"

#include <QPainter>
#include <QString>
#include <QSvgRenderer>

namespace {

QPixmap Render(const QString& name, QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer drawing(QStringLiteral(":/orvane/pictures/%1.svg").arg(name));
    QPainter painter(&pixmap);
    drawing.render(&painter);
    return pixmap;
}

}  // namespace

QPixmap WizardPicture(QSize size) { return Render(QStringLiteral("wizard"), size); }

std::vector<QIcon> RowImages() {
    std::vector<QIcon> images;
    for (const char* name : {"database", "program", "tools", "done", "failed", "required"}) {
        QIcon icon;
        // A second, sharper rendering for screens that scale the window.
        for (int side : {16, 32}) icon.addPixmap(Render(QString::fromLatin1(name), QSize(side, side)));
        images.push_back(icon);
    }
    return images;
}
