#include "app/qt/aboutbox.h"

#include "app/qt/appicon.h"
#include "app/qt/dialogfont.h"

#include "brindlemarkversion.h"

#include <QKeyEvent>
#include <QLabel>

namespace brindlemark {

namespace {

struct TextLine {
    const char* text;
    int x, y, width; // dialog units; every line is 10 units high
    bool centred;
};

constexpr TextLine kLines[] = {
    {"Brindlemark", 42, 6, 123, false},
    {"Версия " BRINDLEMARK_VERSION_TEXT, 42, 16, 123, false},
    // The project has no public address to give as a contact, so the box names none.
    {"© 2026 Brindlemark developers", 42, 27, 123, false},
    {"Thanks to", 7, 72, 155, true},
    {"The map making community", 42, 81, 123, false},
    {"Everyone who tested it", 42, 91, 123, false},
};

} // namespace

QString AboutBox::title() {
    return QStringLiteral("О программе Brindlemark");
}

QStringList AboutBox::lines() {
    QStringList out;
    for (const TextLine& line : kLines)
        out.append(QString::fromUtf8(line.text));
    return out;
}

AboutBox::AboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      units_(QFont()) {
    setWindowTitle(title());
    setWindowIcon(applicationIcon());
    setModal(true);
    setFont(dialogFont(title() + lines().join(QString())));
    units_ = DialogUnits(font());
    setFixedSize(units_.size(169, 110));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    const QRect iconRect = units_.rect(11, 17, 20, 20);
    icon->setGeometry(iconRect);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(applicationPixmap());

    for (const TextLine& line : kLines) {
        auto* label = new QLabel(QString::fromUtf8(line.text), this);
        label->setTextFormat(Qt::PlainText);
        label->setGeometry(units_.rect(line.x, line.y, line.width, 10));
        label->setAlignment((line.centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter);
    }
}

void AboutBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event); // Esc rejects
}

} // namespace brindlemark
