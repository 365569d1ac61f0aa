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

// The window manager of the X server, by its check window; 0 where none runs.
xcb_window_t WindowManager(xcb_connection_t* connection, xcb_window_t root) {
    const QList<xcb_window_t> check = Windows(Property(connection, root, "_NET_SUPPORTING_WM_CHECK"));
    return check.isEmpty() ? 0 : check.front();
}
#endif

// What tells that the modal window may be covered.
enum class Sign {
    None,       // nothing covers it, or nothing can be known
    Stacking,   // the X11 window manager's stacking list
    FocusHeld,  // the blocked window's holding the focus
};

Sign SignOfThisDesktop() {
    const QString platform = QGuiApplication::platformName();
#ifdef TARVENOR_X11
    if (platform == QLatin1String("xcb")) {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
        if (!connection) return Sign::None;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        const xcb_window_t manager = WindowManager(connection, root);
        // Without a window manager nothing raises the window that was clicked.
        if (!manager) return Sign::None;
        // wlroots' window manager for XWayland (sway's) keeps the stacking
        // list in the order it mapped the windows, not as the compositor
        // stacks them, though it says it keeps one: it says nothing.
        if (Property(connection, manager, "_NET_WM_NAME") == "wlroots wm") return Sign::FocusHeld;
        return Sign::Stacking;
    }
#endif
    // A Wayland client learns nothing of how windows stack, nor whether the
    // compositor keeps a child window above its parent: mutter, KWin and
    // weston do; sway, a tiler, does not. Sway is known by the address of
    // its control socket, which it hands its clients.
    if (platform.startsWith(QLatin1String("wayland")) && !qEnvironmentVariableIsEmpty("SWAYSOCK"))
        return Sign::FocusHeld;
    return Sign::None;
}

// Which window the desktop has given the focus. Qt reports it for every
// platform but X11, where Qt itself passes the focus of a blocked window on
// to the modal window and reports nothing; there the X server's focus events
// tell it, and only they: Qt's reports come later and would be out of order.
// Where the window manager keeps a stacking list, its changes tell when the
// modal window is covered.
class Watch : public QObject, public QAbstractNativeEventFilter {
public:
    Watch(QWidget* modal, std::function<void()> showAnew)
        : QObject(modal), modal_(modal), showAnew_(std::move(showAnew)), sign_(SignOfThisDesktop()) {
        grace_.setSingleShot(true);
        grace_.setInterval(kGraceMs);
        connect(&grace_, &QTimer::timeout, this, &Watch::GraceOver);
        if (sign_ == Sign::None) return;
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            x11_ = true;
#ifdef TARVENOR_X11
            connection_ = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
            root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
            stackingList_ = x11::Atom(connection_, "_NET_CLIENT_LIST_STACKING");
#endif
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
        const uint8_t kind = event->response_type & 0x7f;
        // The root window's properties reach Qt, which follows the work area.
        if (sign_ == Sign::Stacking && kind == XCB_PROPERTY_NOTIFY) {
            const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (change->window == root_ && change->atom == stackingList_) StackingChanged();
        } else if (sign_ == Sign::FocusHeld && kind == XCB_FOCUS_IN) {
            const auto* focusIn = reinterpret_cast<const xcb_focus_in_event_t*>(event);
            // As Qt does: the pointer's being over a window says nothing of the focus.
            if (focusIn->detail == XCB_NOTIFY_DETAIL_POINTER) return false;
            if (focusIn->event == NativeId(Owner())) FocusMoved(Focus::Owner);
            else FocusMoved(focusIn->event == NativeId(modal_) ? Focus::Modal : Focus::Other);
        }
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

    // Whether the stacking list, bottom first, has the owner above the modal
    // window. While the modal window is being shown anew it is not listed.
    bool ListedCovered() const {
#ifdef TARVENOR_X11
        const QList<xcb_window_t> stacking = Windows(Property(connection_, root_, "_NET_CLIENT_LIST_STACKING"));
        const qsizetype modalAt = stacking.indexOf(xcb_window_t(NativeId(modal_)));
        return modalAt >= 0 && stacking.indexOf(xcb_window_t(NativeId(Owner()))) > modalAt;
#else
        return false;
#endif
    }

    // A window manager that raises the clicked owner for a moment and then
    // the modal window again (i3) is left to it.
    void StackingChanged() {
        if (!modal_->isVisible() || !ListedCovered()) grace_.stop();
        else if (!grace_.isActive()) grace_.start();
    }

    // Counted from when the owner took the focus, and ended when the focus
    // leaves it; on X11 not when it goes on to the modal window, as Qt passes
    // it on at once: sway's XWayland answers that without a raise. Nothing
    // here asks for the focus: a desktop may hand it back without raising
    // the window (sway does, when told to follow such requests).
    void FocusMoved(Focus focus) {
        // While the window is shown anew the desktop may pass the focus to
        // the owner on the way; that is no click. A desktop that does not
        // focus the new window ends it by time.
        if (focus == Focus::Modal || (settling_ && shownAnew_.hasExpired(5 * kGraceMs))) settling_ = false;
        if (settling_) return;
        if (focus == Focus::Owner && modal_->isVisible()) {
            if (!grace_.isActive()) grace_.start();
        } else if (focus == Focus::Other || !x11_) {
            grace_.stop();
        }
    }

    void GraceOver() {
        if (!modal_->isVisible()) return;
        if (sign_ == Sign::Stacking && !ListedCovered()) return;
        settling_ = sign_ == Sign::FocusHeld;
        shownAnew_.start();
        showAnew_();
    }

    QWidget* modal_;
    std::function<void()> showAnew_;
    const Sign sign_;
    QTimer grace_;
    bool x11_ = false;
    bool settling_ = false;
    QElapsedTimer shownAnew_;
#ifdef TARVENOR_X11
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_atom_t stackingList_ = XCB_ATOM_NONE;
#endif
};

}  // namespace

void KeepInFront(QWidget* modal, std::function<void()> showAnew) { new Watch(modal, std::move(showAnew)); }

}  // namespace modal_focus
