// The editor's main window. It owns the rules document of the run, the unit
// list and the selected unit's TYPENAME line, and drives the core from its
// event handlers. Controls keep their designer names as object names
// ("Text1(0)" for member 0 of the Text1 array).
#pragma once

#include "file_encoding.h"
#include "rules_document.h"
#include "unit_fields.h"

#include <QWidget>

#include <array>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class Form1 : public QWidget {
    Q_OBJECT

public:
    // The rules file is data/unitrules.xml under programFolder. Shows the
    // missing-file warning (a modal box) before returning when it is not there.
    explicit Form1(const QString& programFolder, QWidget* parent = nullptr);

    const RulesDocument& document() const { return document_; }
    const UnitIndex& units() const { return units_; }
    long typeLine() const { return typeLine_; }
    // True while a Read or Save is running inside its click.
    bool busy() const { return busy_; }

protected:
    // While a Read or Save runs, a close waits for it to finish.
    void closeEvent(QCloseEvent* event) override;
    // The unit list has a current entry only while it has the focus.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void ConnectEvents();
    void SetTabOrder();

    void Form_Load();
    void cmdGetData_Click();
    void cmdSave_Click();
    void Command1_Click();
    void Command2_Click();
    void List2_Click(int row);
    void Text1_Change(int slot);
    void txtFind_Change();

    // Sets the window's outer height (frame and title bar included), but
    // never leaves the client area lower than minClientTwips: a thick title
    // bar takes from the outer height, not from what the state must show.
    // Where the frame cannot be known (Wayland) the client area is set to
    // minClientTwips.
    void SetOuterHeight(int twips, int minClientTwips);
    int OuterWidthTwips() const;
    void SetBarWidth(double twips);
    // The bar's narrow rest after a command, of a command whose bar scale was
    // fullWidthTwips.
    void RestBar(int fullWidthTwips);
    ProgressSink BarSink(int fullWidthTwips);
    // Tells screen readers the bar's value when its whole percentage differs
    // from the one last told.
    void TellProgress(double fraction);
    SlotTexts BoxTexts() const;
    // Runs a Read or Save body with the other commands out of reach; a close
    // asked for meanwhile is carried out afterwards.
    template <typename Body>
    bool RunCommand(Body body);

    RulesDocument document_;
    UnitIndex units_;
    FileEncoding encoding_;  // of the names and values shown and typed
    long typeLine_ = 0;
    bool busy_ = false;
    bool closeRequested_ = false;
    int toldPercent_ = 0;  // the bar's value as screen readers last heard it

    QGroupBox* Frame1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;
    QLineEdit* txtFind = nullptr;
    QPushButton* cmdGetData = nullptr;
    QListWidget* List2 = nullptr;
    QPushButton* cmdSave = nullptr;
    std::array<QLineEdit*, kSlotCount> Text1{};
    QLabel* lbUnitName = nullptr;
    std::array<QLabel*, kSlotCount> Label1{};
    QLabel* lbProcess = nullptr;
};
