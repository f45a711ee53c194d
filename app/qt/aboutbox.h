#pragma once

#include "app/qt/dialogunits.h"
#include "app/windowtexts.h"

#include <QDialog>

namespace brindlemark {

// The About window: the program's icon, name, version and credits. Modal, no buttons; Enter, Esc and the
// close box close it.
class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr, Language language = kDefaultLanguage);

    static QString title(Language language = kDefaultLanguage);
    // The text lines from top to bottom.
    static QStringList lines(Language language = kDefaultLanguage);

    const DialogUnits& dialogUnits() const { return units_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    DialogUnits units_;
};

} // namespace brindlemark
