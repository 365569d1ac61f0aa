// The about window: the program's title and version on a fixed picture, five
// site logos that open their web address, and a combo box naming the sites.
// A press on the background closes it. It keeps no state between openings.
#pragma once

#include <QDialog>
#include <QUrl>

#include <array>

class QComboBox;
class QLabel;

class frmAbout : public QDialog {
    Q_OBJECT

public:
    static constexpr int kLinkCount = 5;

    // Creates the window over owner, shows it centred on owner's screen and
    // returns once it has been closed; the window is destroyed then. The
    // owner becomes the window's transient parent, so that the desktop keeps
    // the about window above the main window it blocks (a click on the
    // blocked window must not bury the only window that takes input) and
    // counts it as the owner's, not as a window of its own. Where the desktop
    // raises the blocked owner anyway (sway), the window comes back in front.
    static void ShowModal(QWidget* owner);

    explicit frmAbout(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    // No close key of its own: Escape does nothing, the desktop's close
    // shortcut (Alt+F4) still closes it.
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void imgURL_MouseMove(int index);
    void cbURL_Click(int index);
    void OpenAddress(int index);
    // The address logo i carries as its tag.
    QUrl AddressOf(int index) const;
    // Hidden and shown again, still modal, to come back in front.
    void ShowAnew();

    QPixmap background_;
    QLabel* lblTitle = nullptr;
    QLabel* lblVersion = nullptr;
    std::array<QLabel*, kLinkCount> imgURL{};
    QComboBox* cbURL = nullptr;
    int pressedLogo_ = -1;
};
