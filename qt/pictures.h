#pragma once
// The pictures drawn for the wizard, compiled into the program: the picture beside the pages and the small
// images of the update list's rows, rendered from their vector drawings at the size they are shown.
#include <QIcon>
#include <QPixmap>
#include <QSize>

#include <vector>

QPixmap WizardPicture(QSize size);
// In the order of the row-image indexes: database, program, tools, done, failed, required.
std::vector<QIcon> RowImages();
