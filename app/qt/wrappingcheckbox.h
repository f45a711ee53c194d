#pragma once

#include <QCheckBox>

namespace brindlemark {

// A check box whose caption wraps onto further lines when it does not fit the box's width. It stays one
// QCheckBox with the whole caption as its text; only the drawing differs, and a click anywhere on it toggles
// it.
class WrappingCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit WrappingCheckBox(const QString& text, QWidget* parent = nullptr);

    // Where the caption is drawn, in the box's own coordinates.
    QRect captionRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};

} // namespace brindlemark
