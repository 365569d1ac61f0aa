#include "modal_focus.h"

#include <QAbstractNativeEventFilter>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <utility>

#if defined(Q_OS_LINUX) && __has_include(<xcb/xcb.h>)
#define TARVENOR_X11 1
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include "x11_atom.h"

#include <algorithm>
#include <cstddef>
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

// XInput's major opcode, which its events carry; 0 where the server lacks it.
uint8_t XInputOpcode(xcb_connection_t* connection) {
    static constexpr char kName[] = "XInputExtension";
    xcb_query_extension_reply_t* reply = xcb_query_extension_reply(
        connection, xcb_query_extension(connection, sizeof kName - 1, kName), nullptr);
    const uint8_t opcode = reply && reply->present ? reply->major_opcode : 0;
    std::free(reply);
    return opcode;
}

// The head of an XInput 2 device event, as the protocol lays it out (the
// extension's own header is not installed with the core protocol's).
struct XInputDeviceEvent {
    uint8_t responseType;  // XCB_GE_GENERIC
    uint8_t extension;     // XInput's major opcode
    uint16_t sequence;
    uint32_t length;
    uint16_t type;
    uint16_t device;
    uint32_t time;
    uint32_t button;
    xcb_window_t root;
    xcb_window_t window;
};
static_assert(offsetof(XInputDeviceEvent, window) == 24);
constexpr uint16_t kXInputButtonPress = 4;

// The window in which a pointer button was pressed; 0 for any other event.
// Qt takes the pointer through XInput 2 where the server offers it, else
// through the core protocol.
xcb_window_t PressedWindow(const xcb_generic_event_t* event, uint8_t xinput) {
    const uint8_t kind = event->response_type & 0x7f;
    if (kind == XCB_BUTTON_PRESS) return reinterpret_cast<const xcb_button_press_event_t*>(event)->event;
    const auto* device = reinterpret_cast<const XInputDeviceEvent*>(event);
    const bool pressed = kind == XCB_GE_GENERIC && xinput && device->extension == xinput && device->type == kXInputButtonPress;
    return pressed ? device->window : 0;
}

// The child of the root that holds window: the frame the window manager put
// around it, or the window itself; 0 when the server does not answer.
xcb_window_t TopLevel(xcb_connection_t* connection, xcb_window_t window) {
    while (window) {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr);
        if (!tree) return 0;
        const xcb_window_t parent = tree->parent, root = tree->root;
        std::free(tree);
        if (parent == root) return window;
        window = parent;
    }
    return 0;
}

// Whether the frame that holds upper is stacked above the one that holds
// lower, as the X server stacks them: a window manager's own list may be
// written either way round. The root's children come bottom first.
bool StackedAbove(xcb_connection_t* connection, xcb_window_t upper, xcb_window_t lower) {
    const xcb_window_t upperFrame = TopLevel(connection, upper), lowerFrame = TopLevel(connection, lower);
    if (!upperFrame || !lowerFrame || upperFrame == lowerFrame) return false;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr);
    if (!tree) return false;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    const xcb_window_t* end = children + xcb_query_tree_children_length(tree);
    const xcb_window_t* lowerAt = std::find(children, end, lowerFrame);
    const bool above = lowerAt != end && std::find(lowerAt, end, upperFrame) != end;
    std::free(tree);
    return above;
}
#endif

// What tells, after a press on the owner, that the modal window is covered.
enum class Sign {
    None,       // nothing covers it, or nothing can be known
    Stacking,   // the X server's stacking of the two windows' frames
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
        // Under sway's XWayland (wlroots' window manager) the compositor
        // stacks the windows as it draws them; the X server's order need not
        // follow it.
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

// Watches for presses on the window the modal window blocks and looks, once
// per press and kGraceMs after it, whether the desktop answered it by
// covering the modal window; only then is it shown anew. What a window
// manager writes starts no look, nor does the focus it passes to the owner
// while the modal window is being shown anew: left alone, the modal window
// is never shown anew, and it takes no focus from another program.
// On X11 the X server tells of the press, which Qt drops for a blocked
// window, and of the focus: Qt itself passes the focus of a blocked window on
// to the modal window and reports nothing, and its reports come later and
// would be out of order. A Wayland client hears of no press on a blocked
// window: there the focus that the press gives the owner stands for it.
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
            xinput_ = XInputOpcode(connection_);
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
        if (const xcb_window_t pressed = PressedWindow(event, xinput_)) {
            // The owner has no native child widgets: a press on it is on its own window.
            if (pressed == NativeId(Owner())) Pressed();
        } else if (kind == XCB_FOCUS_IN) {
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

    // A press on the owner, or what stands for one, is looked at once when
    // the desktop has had kGraceMs to answer it; a second press within that
    // time, as of a double-click, moves the look after it.
    void Pressed() {
        pressed_ = true;
        confirming_ = false;
        grace_.start();
    }

    // The focus's coming to the owner is taken for a press: it is what a
    // press gives the owner where the press itself is not heard (on Wayland,
    // or where the window manager keeps it, as on the owner's frame). Where
    // the focus is the sign, the owner has held it since it took it; on X11
    // it is not lost when it goes on to the modal window, as Qt passes it on
    // at once: sway's XWayland answers that without a raise. Nothing here
    // asks for the focus: a desktop may hand it back without raising the
    // window (sway does, when told to follow such requests).
    void FocusMoved(Focus focus) {
        // While the window is shown anew the desktop may pass the focus to
        // the owner on the way; that is no press. A desktop that does not
        // focus the new window ends it by time.
        if (focus == Focus::Modal || (settling_ && shownAnew_.hasExpired(5 * kGraceMs))) settling_ = false;
        if (settling_) return;
        if (focus == Focus::Owner) {
            ownerHasFocus_ = true;
            Pressed();
        } else if (focus == Focus::Other || !x11_) {
            ownerHasFocus_ = false;
        }
    }

    bool Covered() const {
        if (sign_ == Sign::FocusHeld) return ownerHasFocus_;
#ifdef TARVENOR_X11
        return StackedAbove(connection_, xcb_window_t(NativeId(Owner())), xcb_window_t(NativeId(modal_)));
#else
        return false;
#endif
    }

    void GraceOver() {
        if (!pressed_ || !modal_->isVisible() || !Covered()) {
            pressed_ = confirming_ = false;
            return;
        }
        // The X server may already stack the windows as a later press made
        // them, the second of a double-click, whose event is still on its way
        // here: the modal window counts as covered when it is so twice,
        // kGraceMs apart, with no press between.
        if (sign_ == Sign::Stacking && !std::exchange(confirming_, true)) {
            grace_.start();
            return;
        }
        pressed_ = confirming_ = false;
        settling_ = true;
        ownerHasFocus_ = false;
        shownAnew_.start();
        showAnew_();
    }

    QWidget* modal_;
    std::function<void()> showAnew_;
    const Sign sign_;
    QTimer grace_;
    bool x11_ = false;
    bool pressed_ = false;
    bool confirming_ = false;
    bool ownerHasFocus_ = false;
    bool settling_ = false;
    QElapsedTimer shownAnew_;
#ifdef TARVENOR_X11
    xcb_connection_t* connection_ = nullptr;
    uint8_t xinput_ = 0;
#endif
};

}  // namespace

void KeepInFront(QWidget* modal, std::function<void()> showAnew) { new Watch(modal, std::move(showAnew)); }

}  // namespace modal_focus
