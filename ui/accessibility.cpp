#include "accessibility.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>

#include <algorithm>
#include <cmath>

namespace accessibility {
namespace {

constexpr char kProgressProperty[] = "progressPercent";

// lbProcess: a plain coloured label on the screen, a progress bar to a reader.
class ProgressStrip : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressStrip(QWidget* strip) : QAccessibleWidget(strip, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QVariant currentValue() const override { return widget()->property(kProgressProperty).toInt(); }
    void setCurrentValue(const QVariant&) override {}  // only the command moves it
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }
};

// imgURL(i): a picture on the screen, a link named after its site to a reader,
// pressed as a click on the picture would be.
class Logo : public QAccessibleWidget {
public:
    explicit Logo(QWidget* logo) : QAccessibleWidget(logo, QAccessible::Link) {}

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override {
        if (action != pressAction()) return;
        const QPointF middle = QRectF(widget()->rect()).center();
        const QPointF global = widget()->mapToGlobal(middle);
        QMouseEvent press(QEvent::MouseButtonPress, middle, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, middle, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget(), &press);
        QApplication::sendEvent(widget(), &release);
    }
};

// cbURL: a combo box named once for what it offers, with the site its text
// field shows as its value. Qt's own description names an editable combo box
// by its text on X11, so a reader would hear the name change as the pointer
// passes over the logos.
class SiteChooser : public QAccessibleWidget {
public:
    explicit SiteChooser(QWidget* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text type) const override {
        if (type == QAccessible::Value) return box()->lineEdit()->text();
        return QAccessibleWidget::text(type);
    }
    // As Qt's own: the drop-down list, then the text field.
    int childCount() const override { return 2; }
    QAccessibleInterface* child(int index) const override {
        if (index == 0) return QAccessible::queryAccessibleInterface(box()->view());
        if (index == 1) return QAccessible::queryAccessibleInterface(box()->lineEdit());
        return nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child->object() == box()->view()) return 0;
        if (child->object() == box()->lineEdit()) return 1;
        return -1;
    }
    QAccessibleInterface* focusChild() const override { return child(1); }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = box()->view()->isVisible();
        return state;
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString& action) override {
        if (action != showMenuAction() && action != pressAction()) return;
        if (box()->view()->isVisible())
            box()->hidePopup();
        else
            box()->showPopup();
    }

private:
    QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
};

// frmAbout: a dialog that holds the main window until it closes.
class ModalDialog : public QAccessibleWidget {
public:
    explicit ModalDialog(QWidget* dialog) : QAccessibleWidget(dialog, QAccessible::Dialog) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.modal = widget()->isModal();
        return state;
    }
};

QAccessibleInterface* Describe(const QString& className, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget) return nullptr;
    const QString name = object->objectName();
    if (className == QLatin1String("QLabel") && name == QLatin1String("lbProcess")) return new ProgressStrip(widget);
    if (className == QLatin1String("QLabel") && name.startsWith(QLatin1String("imgURL("))) return new Logo(widget);
    if (className == QLatin1String("QComboBox") && name == QLatin1String("cbURL")) return new SiteChooser(widget);
    if (className == QLatin1String("frmAbout")) return new ModalDialog(widget);
    // A plain top-level widget reads as a filler, a pane of some other
    // window; readers announce and list windows by the window role.
    if (className == QLatin1String("Form1")) return new QAccessibleWidget(widget, QAccessible::Window);
    return nullptr;
}

}  // namespace

void Install() {
    static const bool installed = [] {
        QAccessible::installFactory(Describe);
        return true;
    }();
    (void)installed;
}

int ProgressPercent(double fraction) { return static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * 100)); }

void SetProgress(QWidget* strip, int percent) {
    strip->setProperty(kProgressProperty, percent);
    QAccessibleValueChangeEvent changed(strip, percent);
    QAccessible::updateAccessibility(&changed);
}

}  // namespace accessibility
