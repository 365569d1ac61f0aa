// The unit list: a plain list box whose border stays whole at fractional
// scales. At a scale of 1.5 its position falls between device pixels, and
// the style's top and left border lines land on the pixel row and column just
// outside it, where they are cut off; they are drawn again on the first
// pixels inside.
#pragma once

#include <QListWidget>

class UnitList : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    bool event(QEvent* event) override;

private:
    void RedrawCutBorder();
};
