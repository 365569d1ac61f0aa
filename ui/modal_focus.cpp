#include "modal_focus.h"

#include <QAbstractNativeEventFilter>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#if defined(Q_OS_LINUX) && __has_include(<xcb/xcb.h>)
#define TARVENOR_X11 1
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include "x11_atom.h"

#include <cstdlib>
#include <cstring>
#endif

namespace modal_focus {

namespace {

enum class Focus { Owner, Modal, Other };

#ifdef TARVENOR_X11
// A property of window as bytes (empty when it has none).
QByteArray Property(xcb_connection_t* connection, xcb_window_t window, const char* name) {
    const xcb_atom_t property = x11::Atom(connection, name);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr);
    QByteArray value;
    if (reply)
        value = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                           xcb_get_property_value_length(reply));
    std::free(reply);
    return value;
}

QList<xcb_window_t> Windows(const QByteArray& property) {
    QList<xcb_window_t> windows(property.size() / qsizetype(sizeof(xcb_window_t)));
    std::memcpy(windows.data(), property.constData(), std::size_t(windows.size()) * sizeof(xcb_window_t));
    return windows;
}

// Whether the window manager's list of its windows, bottom first, has modal
// above owner; true where no window manager runs. wlroots' window manager for XWayland (sway's) keeps that list
// in the order it mapped the windows, not as the compositor stacks them: it
// says nothing.
bool ListedAbove(xcb_window_t modal, xcb_window_t owner) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return false;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const QList<xcb_window_t> check = Windows(Property(connection, root, "_NET_SUPPORTING_WM_CHECK"));
    // Without a window manager nothing raises the window that was clicked.
    if (check.isEmpty()) return true;
    if (Property(connection, check.front(), "_NET_WM_NAME") == "wlroots wm") return false;
    const QList<xcb_window_t> stacking = Windows(Property(connection, root, "_NET_CLIENT_LIST_STACKING"));
    const qsizetype modalAt = stacking.indexOf(modal), ownerAt = stacking.indexOf(owner);
    return ownerAt >= 0 && modalAt > ownerAt;
}
#endif

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
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            x11_ = true;
            qGuiApp->installNativeEventFilter(this);
            return;
        }
        connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
            const QWidget* owner = Owner();
            if (!window) FocusMoved(Focus::Other);
            else if (owner && window == owner->windowHandle()) FocusMoved(Focus::Owner);
            else FocusMoved(window == modal_->windowHandle() ? Focus::Modal : Focus::Other);
        });
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
        if (focusIn->event == NativeId(Owner())) FocusMoved(Focus::Owner);
        else FocusMoved(focusIn->event == NativeId(modal_) ? Focus::Modal : Focus::Other);
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

    static WId NativeId(const QWidget* window) { return window ? window->internalWinId() : 0; }

    // Nothing here asks for the focus: a desktop may hand it back without
    // raising the window (sway does, when told to follow such requests).
    void FocusMoved(Focus focus) {
        // While the window is shown anew the desktop may pass the focus to
        // the owner on the way; that is no click. A desktop that does not
        // focus the new window ends it by time.
        if (focus == Focus::Modal || (settling_ && shownAnew_.hasExpired(5 * kGraceMs))) settling_ = false;
        if (settling_) return;
        ownerFocused_ = focus == Focus::Owner && modal_->isVisible();
        if (ownerFocused_ && !grace_.isActive()) grace_.start();
    }

    // Shown anew when the owner still has the focus, or, on X11, when the
    // focus has come back but the window manager does not say the modal
    // window is above the owner (Qt's own request for the focus may be
    // answered without a raise).
    void GraceOver() {
        if (!modal_->isVisible()) return;
        bool inFront = !ownerFocused_;
#ifdef TARVENOR_X11
        if (inFront && x11_) inFront = ListedAbove(xcb_window_t(NativeId(modal_)), xcb_window_t(NativeId(Owner())));
#endif
        if (inFront) return;
        settling_ = true;
        ownerFocused_ = false;
        shownAnew_.start();
        showAnew_();
    }

    QWidget* modal_;
    std::function<void()> showAnew_;
    QTimer grace_;
    bool x11_ = false;
    bool ownerFocused_ = false;
    bool settling_ = false;
    QElapsedTimer shownAnew_;
};

}  // namespace

void KeepInFront(QWidget* modal, std::function<void()> showAnew) { new Watch(modal, std::move(showAnew)); }

}  // namespace modal_focus
