#include "frmAbout.h"

#include "accessibility.h"
#include "menu_keys.h"
#include "modal_focus.h"
#include "program_identity.h"
#include "taskbar.h"
#include "twips.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace {

struct Link {
    const char* logo;   // resource path
    QRect place;        // twips, within the window
    const char* entry;  // "Site[description]", UTF-8
    const char* address;
};

const std::array<Link, frmAbout::kLinkCount> kLinks{{
    {":/assets/logo0.jpg", TwipsRect(180, 585, 1320, 465), "编辑器主页[更新与使用说明]",
     "https://www.example.com/tarvenor-unit-editor/"},
    {":/assets/logo1.gif", TwipsRect(180, 1068, 1320, 465), "塔文诺中文站[新闻与下载]",
     "https://www.example.org/tarvenor/"},
    {":/assets/logo2.jpg", TwipsRect(180, 1545, 1320, 480), "战略游戏论坛[模组讨论区]",
     "https://forum.example.net/strategy/"},
    {":/assets/logo3.jpg", TwipsRect(180, 2034, 1320, 465), "游戏资料库[单位数据查询]",
     "https://wiki.example.com/tarvenor/units"},
    {":/assets/logo4.jpg", TwipsRect(180, 2520, 1320, 465), "模组工坊[模组与地图分享]",
     "https://mods.example.org/tarvenor/"},
}};

// The hot spot of the pointing hand is the tip of its finger.
constexpr QPoint kHandHotSpot(5, 0);

QLabel* MakeLabel(QWidget* parent, const char* name, QPoint topLeft) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(topLeft);
    // A press on a label belongs to the label, not to the background.
    label->setAttribute(Qt::WA_NoMousePropagation);
    return label;
}

// The picture at path or, on a screen whose scale is above 1, its version of
// twice the pixels (name@2x.ext), drawn at the same size.
QPixmap Picture(const QString& path) {
    if (qApp->devicePixelRatio() > 1) {
        const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
        QPixmap sharp(path.left(dot) + QStringLiteral("@2x") + path.mid(dot));
        if (!sharp.isNull()) {
            sharp.setDevicePixelRatio(2);
            return sharp;
        }
    }
    return QPixmap(path);
}

}  // namespace

void frmAbout::ShowModal(QWidget* owner) {
    frmAbout window(owner);
    // Its own native window only: asking it for winId() would give every
    // widget of the owner one as well.
    window.create();
    taskbar::KeepOut(&window);
    modal_focus::KeepInFront(&window, [&window] { window.ShowAnew(); });
    window.exec();
}

QUrl frmAbout::AddressOf(int index) const { return QUrl(imgURL.at(index)->property("Tag").toString()); }

frmAbout::frmAbout(QWidget* parent) : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frmAbout"));
    accessibility::Install();
    setWindowTitle(QStringLiteral("关于我的应用程序"));
    setWindowIcon(QIcon(QStringLiteral(":/assets/about_icon.png")));
    setFixedSize(TwipsToPixels(6000), TwipsToPixels(3000));
    background_ = Picture(QStringLiteral(":/assets/about_background.jpg"));
    // The notice and the contact lines exist only as pixels; a screen reader
    // gets them as the window's description, written out by the same script
    // that draws them.
    QFile pictureText(QStringLiteral(":/assets/about_background.txt"));
    if (pictureText.open(QIODevice::ReadOnly)) setAccessibleDescription(QString::fromUtf8(pictureText.readAll()).trimmed());

    lblTitle = MakeLabel(this, "lblTitle", TwipsRect(2160, 135, 0, 0).topLeft());
    lblTitle->setText(QStringLiteral("应用程序标题"));
    QPalette black = lblTitle->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    lblTitle->setPalette(black);
    lblVersion = MakeLabel(this, "lblVersion", TwipsRect(2160, 405, 0, 0).topLeft());
    lblVersion->setText(QStringLiteral("版本"));

    const QCursor hand(QPixmap(QStringLiteral(":/assets/hand_cursor.png")), kHandHotSpot.x(), kHandHotSpot.y());
    for (int i = 0; i < kLinkCount; ++i) {
        imgURL[i] = MakeLabel(this, "imgURL", kLinks[i].place.topLeft());
        imgURL[i]->setObjectName(QStringLiteral("imgURL(%1)").arg(i));
        imgURL[i]->setPixmap(Picture(QString::fromLatin1(kLinks[i].logo)));
        // Exactly the picture, no stretching; on a high-DPI screen Qt loads
        // the @2x picture, of the same size in the window's units.
        imgURL[i]->resize(imgURL[i]->pixmap().deviceIndependentSize().toSize());
        imgURL[i]->setCursor(hand);
        imgURL[i]->setMouseTracking(true);  // hover without a button held
        imgURL[i]->setProperty("Tag", QString::fromLatin1(kLinks[i].address));
        imgURL[i]->setAccessibleName(QString::fromUtf8(kLinks[i].entry));
        imgURL[i]->installEventFilter(this);
    }

    cbURL = new QComboBox(this);
    cbURL->setObjectName(QStringLiteral("cbURL"));
    cbURL->setGeometry(TwipsRect(2790, 2610, 3090, 300));
    cbURL->setEditable(true);
    cbURL->setInsertPolicy(QComboBox::NoInsert);
    cbURL->setCompleter(nullptr);
    for (const Link& link : kLinks) cbURL->addItem(QString::fromUtf8(link.entry));
    cbURL->setCurrentIndex(-1);
    cbURL->setEditText(QStringLiteral("欢迎访问"));
    // Its text changes with the logo under the pointer; its name does not.
    cbURL->setAccessibleName(QStringLiteral("相关网站"));
    // Only a choice from the list opens an address: finishing an edit whose
    // text happens to equal an entry must not select it.
    disconnect(cbURL->lineEdit(), &QLineEdit::editingFinished, cbURL, nullptr);
    connect(cbURL, &QComboBox::activated, this, &frmAbout::cbURL_Click);
    // The wheel would step through the list and report every step as a
    // choice, opening a page a notch.
    cbURL->installEventFilter(this);
    menu_keys::KeepFromTyping(cbURL->lineEdit());
    cbURL->setFocus();

    Form_Load();
    // Centred on the screen itself, not over the owner; a platform that
    // places windows itself (Wayland) ignores this.
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmAbout::Form_Load() {
    const QString title = program_identity::Title();
    setWindowTitle(QStringLiteral("关于 ") + title);
    lblVersion->setText(QStringLiteral("版本 %1.%2.%3")
                            .arg(program_identity::kMajor)
                            .arg(program_identity::kMinor)
                            .arg(program_identity::kRevision));
    lblVersion->adjustSize();
    lblTitle->setText(title);
    lblTitle->adjustSize();
}

void frmAbout::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, background_);
}

void frmAbout::mousePressEvent(QMouseEvent*) {
    // Any button on the background closes at once, on the press.
    close();
}

void frmAbout::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) return;
    QDialog::keyPressEvent(event);
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == cbURL) return event->type() == QEvent::Wheel;
    const auto logo = std::find(imgURL.begin(), imgURL.end(), watched);
    if (logo == imgURL.end()) return QDialog::eventFilter(watched, event);
    const int index = static_cast<int>(logo - imgURL.begin());
    switch (event->type()) {
    case QEvent::MouseMove:
        imgURL_MouseMove(index);
        return true;
    case QEvent::MouseButtonPress:
        pressedLogo_ = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton ? index : -1;
        return true;
    case QEvent::MouseButtonRelease: {
        const auto* release = static_cast<QMouseEvent*>(event);
        const bool click = pressedLogo_ == index && release->button() == Qt::LeftButton &&
                           imgURL[index]->rect().contains(release->position().toPoint());
        pressedLogo_ = -1;
        if (click) OpenAddress(index);
        return true;
    }
    default:
        return QDialog::eventFilter(watched, event);
    }
}

// Windows shows a tool window without activating it; the about window takes
// the keyboard as soon as it is on the screen.
void frmAbout::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    QTimer::singleShot(0, this, [this] { activateWindow(); });
}

// QWidget's own visibility: QDialog's hide would end the modal loop. The
// desktop withdraws the window meanwhile and may drop its task-bar marks.
void frmAbout::ShowAnew() {
    QWidget::setVisible(false);
    taskbar::KeepOut(this);
    QWidget::setVisible(true);
}

void frmAbout::imgURL_MouseMove(int index) { cbURL->setEditText(cbURL->itemText(index)); }

void frmAbout::cbURL_Click(int index) {
    if (index >= 0) OpenAddress(index);
}

void frmAbout::OpenAddress(int index) {
    // Hands the address to the default browser without waiting; a failure
    // is not reported and the window stays as it is.
    QDesktopServices::openUrl(AddressOf(index));
}
