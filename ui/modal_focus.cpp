#include "modal_focus.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#if defined(Q_OS_LINUX) && __has_include(<xcb/xcb.h>)
#define TARVENOR_X11 1
#include <xcb/xcb.h>
#endif

namespace modal_focus {

namespace {

// Which window the desktop has given the focus. Qt reports it for every
// platform but X11, where Qt itself passes the focus of a blocked window on
// to the modal window and reports nothing; there the X server's focus events
// tell it, and only they: Qt's reports come later and would be out of order.
class Watch : public QObject, public QAbstractNativeEventFilter {
public:
    Watch(QWidget* modal, std::function<void()> showAnew)
        : QObject(modal), modal_(modal), showAnew_(std::move(showAnew)) {
        grace_.setSingleShot(true);
        grace_.setInterval(kGraceMs);
        connect(&grace_, &QTimer::timeout, this, &Watch::GraceOver);
#ifdef TARVENOR_X11
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            qGuiApp->installNativeEventFilter(this);
            return;
        }
#endif
        connect(qGuiApp, &QGuiApplication::focusWindowChanged, this,
                [this](QWindow* window) { FocusMoved(window && Owner() && window == Owner()->windowHandle()); });
    }
    ~Watch() override { qGuiApp->removeNativeEventFilter(this); }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
#ifdef TARVENOR_X11
        if (type != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_FOCUS_IN) return false;
        const auto* focusIn = reinterpret_cast<const xcb_focus_in_event_t*>(event);
        // As Qt does: the pointer's being over a window says nothing of the focus.
        if (focusIn->detail == XCB_NOTIFY_DETAIL_POINTER) return false;
        const QWidget* owner = Owner();
        FocusMoved(owner && owner->internalWinId() && focusIn->event == xcb_window_t(owner->internalWinId()));
#else
        Q_UNUSED(type);
        Q_UNUSED(message);
#endif
        return false;
    }

private:
    const QWidget* Owner() const {
        const QWidget* parent = modal_->parentWidget();
        return parent ? parent->window() : nullptr;
    }

    void FocusMoved(bool toOwner) {
        ownerFocused_ = toOwner && modal_->isVisible();
        if (!ownerFocused_) {
            grace_.stop();
            return;
        }
        modal_->raise();
        modal_->activateWindow();
        grace_.start();
    }

    void GraceOver() {
        if (ownerFocused_ && modal_->isVisible()) showAnew_();
    }

    QWidget* modal_;
    std::function<void()> showAnew_;
    QTimer grace_;
    bool ownerFocused_ = false;
};

}  // namespace

void KeepInFront(QWidget* modal, std::function<void()> showAnew) { new Watch(modal, std::move(showAnew)); }

}  // namespace modal_focus
