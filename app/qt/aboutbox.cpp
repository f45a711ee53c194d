#include "app/qt/aboutbox.h"

#include "app/qt/appicon.h"
#include "app/qt/dialogfont.h"

#include "brindlemarkversion.h"

#include <QKeyEvent>
#include <QLabel>

namespace brindlemark {

namespace {

struct TextLine {
    Text text;
    int x, y, width; // dialog units; every line is 10 units high
    bool centred;
};

constexpr TextLine kLines[] = {
    {Text::WindowTitle, 42, 6, 123, false},
    {Text::AboutVersion, 42, 16, 123, false},
    // The project has no public address to give as a contact, so the box names none.
    {Text::AboutCopyright, 42, 27, 123, false},
    {Text::AboutThanks, 7, 72, 155, true},
    {Text::AboutCommunity, 42, 81, 123, false},
    {Text::AboutTesters, 42, 91, 123, false},
};

QString lineText(Language language, Text id) {
    return QString::fromStdString(fill(text(language, id), {BRINDLEMARK_VERSION_TEXT}));
}

} // namespace

QString AboutBox::title(Language language) {
    return lineText(language, Text::AboutTitle);
}

QStringList AboutBox::lines(Language language) {
    QStringList out;
    for (const TextLine& line : kLines)
        out.append(lineText(language, line.text));
    return out;
}

AboutBox::AboutBox(QWidget* parent, Language language)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      units_(QFont()) {
    setWindowTitle(title(language));
    setWindowIcon(applicationIcon());
    setModal(true);
    setFont(dialogFont(title(language) + lines(language).join(QString())));
    units_ = DialogUnits(font());
    setFixedSize(units_.size(169, 110));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    const QRect iconRect = units_.rect(11, 17, 20, 20);
    icon->setGeometry(iconRect);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(applicationPixmap());

    for (const TextLine& line : kLines) {
        auto* label = new QLabel(lineText(language, line.text), this);
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
