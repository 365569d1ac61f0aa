#include "Form1.h"
#include "frmAbout.h"

#include "test_files.h"
#include "unit_records.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "offscreen_noise.h"

// Receives the addresses the about window hands to the browser.
class BrowserStandIn : public QObject {
    Q_OBJECT
public:
    BrowserStandIn() {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
    }
    ~BrowserStandIn() override {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class AboutTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { DropOffscreenPlatformNoise(); }
    void init();
    void cleanup();
    void opensFromTheAboutButtonWithTitleAndVersion();
    void opensWithItsAccessKey();
    void hoverNamesTheSiteWithoutOpeningIt();
    void clickOnALogoOpensItsAddress_data();
    void clickOnALogoOpensItsAddress();
    void choiceInTheListOpensTheSameAddress();
    void typingOpensNothing();
    void wheelOverTheListOpensNothing();
    void backgroundPressClosesLogoAndLabelPressesDoNot_data();
    void backgroundPressClosesLogoAndLabelPressesDoNot();
    void reopenedWindowStartsFresh();
    void screenReaderHearsModalDialogAndPressableLinks();
    void escapeDoesNotCloseButTheDesktopsCloseDoes();
    void picturesAreSharpAtTheScreensScale();

private:
    // Opens the about window from the main window's About button and runs
    // check on it while it is shown modally; returns once it is closed.
    void WithAboutOpen(const std::function<void(frmAbout*)>& check);

    std::unique_ptr<ScratchFolder> folder_;
    std::unique_ptr<Form1> form_;
    std::unique_ptr<BrowserStandIn> browser_;
};

void AboutTest::init() {
    folder_ = std::make_unique<ScratchFolder>();
    MakeFolder(*folder_ / "data");
    WriteBytes(*folder_ / "data/unitrules.xml", CrlfBytes(UnitRecord("Archer")));
    form_ = std::make_unique<Form1>(QString::fromStdString(folder_->path()));
    form_->show();
    browser_ = std::make_unique<BrowserStandIn>();
}

void AboutTest::cleanup() {
    browser_.reset();
    form_.reset();
    folder_.reset();
}

void AboutTest::WithAboutOpen(const std::function<void(frmAbout*)>& check) {
    bool checked = false;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
        QVERIFY(about);
        QVERIFY(QTest::qWaitForWindowActive(about));
        check(about);
        checked = true;
        if (QApplication::activeModalWidget() == about) about->close();
    });
    form_->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    QVERIFY(checked);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(!form_->findChild<frmAbout*>());
}

static QLabel* Logo(frmAbout* about, int i) { return about->findChild<QLabel*>(QStringLiteral("imgURL(%1)").arg(i)); }
// The web address logo i carries as its tag.
static QUrl Carried(frmAbout* about, int i) { return QUrl(Logo(about, i)->property("Tag").toString()); }
static QComboBox* Sites(frmAbout* about) { return about->findChild<QComboBox*>(QStringLiteral("cbURL")); }

void AboutTest::opensFromTheAboutButtonWithTitleAndVersion() {
    WithAboutOpen([](frmAbout* about) {
        QCOMPARE(about->windowTitle(), QStringLiteral("关于 Tarvenor"));
        QCOMPARE(about->findChild<QLabel*>(QStringLiteral("lblTitle"))->text(), QStringLiteral("Tarvenor"));
        QCOMPARE(about->findChild<QLabel*>(QStringLiteral("lblVersion"))->text(), QStringLiteral("版本 1.0.0"));
        QCOMPARE(about->size(), QSize(400, 200));
        QVERIFY(about->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(about->isModal());
        QCOMPARE(Sites(about)->currentText(), QStringLiteral("欢迎访问"));
        QCOMPARE(Sites(about)->currentIndex(), -1);
        QCOMPARE(Sites(about)->count(), frmAbout::kLinkCount);
        QWidget* focused = QApplication::focusWidget();
        QVERIFY(focused && (focused == Sites(about) || focused->parentWidget() == Sites(about)));
        const QList<QSize> logoSizes{{88, 31}, {88, 31}, {88, 32}, {88, 31}, {88, 31}};
        for (int i = 0; i < frmAbout::kLinkCount; ++i) {
            QCOMPARE(Logo(about, i)->size(), logoSizes[i]);
            QCOMPARE(Logo(about, i)->cursor().hotSpot(), QPoint(5, 0));
            QVERIFY(Sites(about)->itemText(i).contains(QLatin1Char('[')));
            QVERIFY(Carried(about, i).isValid());
            QCOMPARE(Carried(about, i).scheme(), QStringLiteral("https"));
            for (int j = 0; j < i; ++j) QVERIFY(Carried(about, j) != Carried(about, i));
        }
    });
}

void AboutTest::opensWithItsAccessKey() {
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    bool opened = false;
    QTimer closer;  // runs inside the about window's own event loop
    connect(&closer, &QTimer::timeout, [&] {
        if (auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget())) {
            opened = true;
            about->close();
        }
    });
    closer.start(0);
    QTest::keyClick(form_.get(), Qt::Key_A, Qt::AltModifier);
    QTRY_VERIFY(opened);
}

void AboutTest::hoverNamesTheSiteWithoutOpeningIt() {
    WithAboutOpen([this](frmAbout* about) {
        QTest::mouseMove(Logo(about, 3), QPoint(10, 10));
        // A real platform moves the pointer itself; the move arrives a little later.
        QTRY_COMPARE(Sites(about)->currentText(), Sites(about)->itemText(3));
        QTest::mouseMove(about, QPoint(300, 60));
        QCOMPARE(Sites(about)->currentText(), Sites(about)->itemText(3));
        QVERIFY(browser_->opened.isEmpty());
    });
}

void AboutTest::clickOnALogoOpensItsAddress_data() {
    QTest::addColumn<int>("logo");
    for (int i = 0; i < frmAbout::kLinkCount; ++i) QTest::addRow("logo %d", i) << i;
}

void AboutTest::clickOnALogoOpensItsAddress() {
    QFETCH(int, logo);
    WithAboutOpen([this, logo](frmAbout* about) {
        QTest::mouseClick(Logo(about, logo), Qt::LeftButton);
        QCOMPARE(browser_->opened, QList<QUrl>{Carried(about, logo)});
        QVERIFY(about->isVisible());
    });
}

void AboutTest::choiceInTheListOpensTheSameAddress() {
    WithAboutOpen([this](frmAbout* about) {
        QComboBox* sites = Sites(about);
        sites->setFocus();
        QTest::keyClick(sites, Qt::Key_Down);
        QTest::keyClick(sites, Qt::Key_Down);
        QTest::keyClick(sites, Qt::Key_Up);
        QCOMPARE(browser_->opened, (QList<QUrl>{Carried(about, 0), Carried(about, 1), Carried(about, 0)}));
        QCOMPARE(sites->currentText(), sites->itemText(0));
        browser_->opened.clear();
        // A pick in the dropped-down list with the mouse.
        sites->showPopup();
        QAbstractItemView* list = sites->view();
        QTRY_VERIFY(list->isVisible());
        const QPoint entry = list->visualRect(list->model()->index(4, 0)).center();
        QTest::mouseMove(list->viewport(), entry);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, entry);
        QCOMPARE(browser_->opened, QList<QUrl>{Carried(about, 4)});
        QTest::mouseClick(Logo(about, 4), Qt::LeftButton);
        QCOMPARE(browser_->opened.last(), Carried(about, 4));
    });
}

void AboutTest::wheelOverTheListOpensNothing() {
    WithAboutOpen([this](frmAbout* about) {
        QComboBox* sites = Sites(about);
        // Over the text field and over the arrow, four notches each way.
        for (QWidget* under : {static_cast<QWidget*>(sites->lineEdit()), static_cast<QWidget*>(sites)}) {
            const QPoint at = under == sites ? QPoint(sites->width() - 5, sites->height() / 2) : QPoint(5, 5);
            for (int notch : {-120, -120, -120, -120, 120, 120, 120, 120}) {
                QWheelEvent wheel(at, under->mapToGlobal(at), QPoint(), QPoint(0, notch), Qt::NoButton, Qt::NoModifier,
                                  Qt::NoScrollPhase, false);
                QApplication::sendEvent(under, &wheel);
            }
        }
        QVERIFY(browser_->opened.isEmpty());
        QCOMPARE(sites->currentIndex(), -1);
        QCOMPARE(sites->currentText(), QStringLiteral("欢迎访问"));
    });
}

void AboutTest::typingOpensNothing() {
    WithAboutOpen([this](frmAbout* about) {
        QComboBox* sites = Sites(about);
        QTest::mouseMove(Logo(about, 2), QPoint(5, 5));
        QTest::keyClick(sites->lineEdit(), Qt::Key_Return);
        sites->lineEdit()->selectAll();
        sites->lineEdit()->insert(sites->itemText(1));  // as typed, or pasted
        QTest::keyClicks(sites->lineEdit(), QStringLiteral("x"));
        QTest::keyClick(sites->lineEdit(), Qt::Key_Backspace);
        QTest::keyClick(sites->lineEdit(), Qt::Key_Return);
        QVERIFY(browser_->opened.isEmpty());
        QCOMPARE(sites->currentIndex(), -1);
    });
}

void AboutTest::backgroundPressClosesLogoAndLabelPressesDoNot_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("closes");
    QTest::newRow("left on background") << QString() << int(Qt::LeftButton) << true;
    QTest::newRow("right on background") << QString() << int(Qt::RightButton) << true;
    QTest::newRow("middle on background") << QString() << int(Qt::MiddleButton) << true;
    QTest::newRow("left on a logo") << QStringLiteral("imgURL(1)") << int(Qt::LeftButton) << false;
    QTest::newRow("right on a logo") << QStringLiteral("imgURL(0)") << int(Qt::RightButton) << false;
    QTest::newRow("on the title") << QStringLiteral("lblTitle") << int(Qt::LeftButton) << false;
    QTest::newRow("on the version") << QStringLiteral("lblVersion") << int(Qt::RightButton) << false;
}

void AboutTest::backgroundPressClosesLogoAndLabelPressesDoNot() {
    QFETCH(QString, target);
    QFETCH(int, button);
    QFETCH(bool, closes);
    WithAboutOpen([&](frmAbout* about) {
        QWidget* pressed = target.isEmpty() ? about : about->findChild<QWidget*>(target);
        QTest::mousePress(pressed, Qt::MouseButton(button), {}, target.isEmpty() ? QPoint(300, 60) : QPoint(2, 2));
        QCOMPARE(!about->isVisible(), closes);
    });
    // The button comes up again, so that the next case's pointer moves hover.
    QTest::mouseRelease(form_.get(), Qt::MouseButton(button), {}, QPoint(2, 2));
}

void AboutTest::reopenedWindowStartsFresh() {
    WithAboutOpen([](frmAbout* about) {
        QTest::mouseMove(Logo(about, 1), QPoint(5, 5));
        Sites(about)->setCurrentIndex(2);
    });
    WithAboutOpen([](frmAbout* about) {
        QCOMPARE(Sites(about)->currentText(), QStringLiteral("欢迎访问"));
        QCOMPARE(Sites(about)->currentIndex(), -1);
    });
}


void AboutTest::screenReaderHearsModalDialogAndPressableLinks() {
    WithAboutOpen([this](frmAbout* about) {
        QAccessibleInterface* dialog = QAccessible::queryAccessibleInterface(about);
        QCOMPARE(dialog->role(), QAccessible::Dialog);
        QVERIFY(dialog->state().modal);
        QComboBox* sites = Sites(about);
        for (int i = 0; i < frmAbout::kLinkCount; ++i) {
            QAccessibleInterface* logo = QAccessible::queryAccessibleInterface(Logo(about, i));
            QCOMPARE(logo->role(), QAccessible::Link);
            QCOMPARE(logo->text(QAccessible::Name), sites->itemText(i));
            QAccessibleActionInterface* actions = logo->actionInterface();
            QVERIFY(actions);
            QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
            actions->doAction(QAccessibleActionInterface::pressAction());
            QCOMPARE(browser_->opened.last(), Carried(about, i));
        }
        QCOMPARE(browser_->opened.size(), frmAbout::kLinkCount);
        QVERIFY(about->isVisible());

        // The texts that live only in the background picture.
        const QString described = dialog->text(QAccessible::Description);
        for (const char* drawn : {"单位编辑器", "修改前请备份资料文件", "editor@example.com", "www.example.com"})
            QVERIFY2(described.contains(QString::fromUtf8(drawn)), drawn);

        // The site list keeps its name while its text follows the pointer.
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(sites);
        QCOMPARE(list->role(), QAccessible::ComboBox);
        QCOMPARE(list->text(QAccessible::Name), QStringLiteral("相关网站"));
        QCOMPARE(list->text(QAccessible::Value), QStringLiteral("欢迎访问"));
        QTest::mouseMove(Logo(about, 3), Logo(about, 3)->rect().center());
        // A real platform moves the pointer itself; the move arrives a little later.
        QTRY_COMPARE(list->text(QAccessible::Value), sites->itemText(3));
        QCOMPARE(list->text(QAccessible::Name), QStringLiteral("相关网站"));
        QCOMPARE(list->childCount(), 2);
        QCOMPARE(list->child(1)->object(), sites->lineEdit());
        QCOMPARE(list->child(1)->text(QAccessible::Value), sites->itemText(3));
        list->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
        QTRY_VERIFY(sites->view()->isVisible());
        QVERIFY(list->state().expanded);
        sites->hidePopup();
    });
}

void AboutTest::escapeDoesNotCloseButTheDesktopsCloseDoes() {
    WithAboutOpen([](frmAbout* about) {
        QTest::keyClick(Sites(about), Qt::Key_Escape);
        QTest::keyClick(about, Qt::Key_Escape);
        QVERIFY(about->isVisible());
        // What the window manager's Alt+F4 sends.
        QVERIFY(about->close());
        QVERIFY(!about->isVisible());
    });
}

// ctest runs this suite once more at QT_SCALE_FACTOR=2, where the @2x
// pictures must be drawn, at the sizes the window is designed in.
void AboutTest::picturesAreSharpAtTheScreensScale() {
    WithAboutOpen([](frmAbout* about) {
        const qreal scale = about->devicePixelRatioF();
        for (int i = 0; i < frmAbout::kLinkCount; ++i) QCOMPARE(Logo(about, i)->pixmap().devicePixelRatio(), scale);
        const QImage drawn = about->grab().toImage();
        QCOMPARE(drawn.size(), QSize(400, 200) * scale);
        const QImage designed(scale > 1 ? QStringLiteral(":/assets/about_background@2x.jpg")
                                        : QStringLiteral(":/assets/about_background.jpg"));
        // Inside the heading, where no control lies.
        for (int y = 16; y < 24; ++y)
            for (int x = 42; x < 70; ++x) {
                const QPoint at = QPointF(x * scale, y * scale).toPoint();
                QCOMPARE(drawn.pixel(at), designed.pixel(at));
            }
    });
}

QTEST_MAIN(AboutTest)
#include "about_test.moc"
