#include "ui/clsBrowse.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>

namespace quenloft {

// The dialog opens in the user's home folder; the whole file system can be reached.
void clsBrowse::BrowseForFolder(QWidget* hwnd) {
    QString chosen = QFileDialog::getExistingDirectory(hwnd, QString::fromUtf8(Caption),
                                                       QDir::homePath(), QFileDialog::ShowDirsOnly);
    OutputPath = QFile::encodeName(chosen).toStdString();
}

} // namespace quenloft
