#include "app/qt/messagepresenter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace brindlemark {

void MessageBoxPresenter::show(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, caption(), text, QMessageBox::Ok, parent);
    box.exec();
}

QString MessageBoxPresenter::caption() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

} // namespace brindlemark
