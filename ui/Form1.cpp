#include "Form1.h"

#include "accessibility.h"
#include "frmAbout.h"
#include "menu_keys.h"
#include "twips.h"
#include "unit_list.h"
#include "warning_box.h"
#include "program_identity.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>

#include <algorithm>

namespace {

// Outer heights the window takes: the strip that shows only the progress bar,
// and the working height after a command.
constexpr int kStripTwips = 800;
constexpr int kReadyTwips = 4400;
// What each height must show whatever the frame takes: the whole bar in the
// strip, the whole of Frame1 when ready.
constexpr int kStripClientTwips = 45 + 285;
constexpr int kReadyClientTwips = 3930;
constexpr int kClientWidthTwips = 6180;
constexpr int kClientHeightTwips = 4050;
constexpr int kRestingBarTwips = 10;
constexpr QRect kBarRect = TwipsRect(45, 45, 5505, 285);

const QColor kButtonFace(224, 224, 224);
const QColor kCaptionText(192, 64, 0);
const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);

struct BoxPlace {
    QRect box;
    QRect caption;
};
// Per slot: where its box and its caption stand inside Frame1.
const std::array<BoxPlace, kSlotCount> kBoxPlaces{{
    {TwipsRect(3825, 630, 735, 285), TwipsRect(3150, 675, 540, 180)},
    {TwipsRect(5130, 630, 735, 285), TwipsRect(4635, 675, 360, 180)},
    {TwipsRect(3825, 2115, 735, 285), TwipsRect(3195, 2160, 540, 180)},
    {TwipsRect(5130, 1395, 735, 285), TwipsRect(4635, 1440, 360, 180)},
    {TwipsRect(3825, 1755, 735, 285), TwipsRect(3015, 1800, 720, 225)},
    {TwipsRect(3825, 1395, 735, 285), TwipsRect(3330, 1440, 360, 180)},
    {TwipsRect(3825, 990, 735, 285), TwipsRect(3330, 1035, 360, 180)},
    {TwipsRect(5130, 990, 735, 285), TwipsRect(4680, 1035, 90, 180)},
}};
// The boxes in keyboard order: the grid row by row, build time last.
constexpr std::array<int, kSlotCount> kBoxTabOrder{0, 1, 2, 3, 5, 6, 7, 4};

QString Indexed(const char* name, int index) {
    return QString::fromLatin1(name) + QLatin1Char('(') + QString::number(index) + QLatin1Char(')');
}

void SetColor(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, const QRect& place) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(place);
    SetColor(button, QPalette::Button, kButtonFace);
    return button;
}

// The core takes paths as the platform's file-name bytes (UTF-8 on Windows).
std::string CorePath(const QString& path) {
#ifdef Q_OS_WIN
    return path.toUtf8().toStdString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

// The core's messages: a path and the system's reason, UTF-8 on Windows.
QString CoreText(const std::string& text) {
#ifdef Q_OS_WIN
    return QString::fromUtf8(text);
#else
    return QString::fromLocal8Bit(text);
#endif
}

}  // namespace

Form1::Form1(const QString& programFolder, QWidget* parent) : QWidget(parent), document_(CorePath(programFolder)) {
    CreateControls();
    SetTabOrder();
    ConnectEvents();
    Form_Load();
}

void Form1::CreateControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tarvenor 单位编辑器 v1.0 Quorrin[Velmoth]"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/assets/icon16.png"));
    icon.addFile(QStringLiteral(":/assets/icon32.png"));
    setWindowIcon(icon);
    setFixedSize(TwipsToPixels(kClientWidthTwips), TwipsToPixels(kClientHeightTwips));
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);  // a fixed border, not a sizing one (Windows)

    // Made first so that Frame1 covers it until a command hides the frame.
    lbProcess = new QLabel(this);
    lbProcess->setObjectName(QStringLiteral("lbProcess"));
    lbProcess->setGeometry(kBarRect);
    lbProcess->setAutoFillBackground(true);
    // A plain fill: growing the bar needs only the new strip painted, and
    // nothing once the bar has run past the window's edge.
    lbProcess->setAttribute(Qt::WA_StaticContents);
    SetColor(lbProcess, QPalette::Window, kRed);
    accessibility::Install();
    lbProcess->setAccessibleName(QStringLiteral("进度"));

    Frame1 = new QGroupBox(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(TwipsRect(0, 0, 6045, 3930));
    Frame1->setAutoFillBackground(true);  // opaque, so the bar beneath is hidden
    Frame1->setAccessibleName(QStringLiteral("单位编辑区"));

    Command2 = MakeButton(Frame1, "Command2", QStringLiteral("退出(&X)"), TwipsRect(4455, 3375, 1455, 420));
    Command1 = MakeButton(Frame1, "Command1", QStringLiteral("关于(&A)"), TwipsRect(3015, 3375, 1410, 420));
    cmdGetData = MakeButton(Frame1, "cmdGetData", QStringLiteral("读入数据(&R)"), TwipsRect(3015, 2475, 2895, 420));
    cmdSave = MakeButton(Frame1, "cmdSave", QStringLiteral("保存(&S)"), TwipsRect(3015, 2925, 2895, 420));
    cmdSave->setEnabled(false);

    txtFind = new QLineEdit(Frame1);
    txtFind->setObjectName(QStringLiteral("txtFind"));
    txtFind->setGeometry(TwipsRect(135, 180, 2805, 285));
    txtFind->setToolTip(QStringLiteral("输入单位名称开头的几个字母"));
    txtFind->setAccessibleName(txtFind->toolTip());
    menu_keys::KeepFromTyping(txtFind);

    List2 = new UnitList(Frame1);
    List2->setObjectName(QStringLiteral("List2"));
    List2->setGeometry(TwipsRect(135, 495, 2805, 3300));
    List2->setSelectionMode(QAbstractItemView::SingleSelection);
    List2->setUniformItemSizes(true);  // one line of text each: no per-item measuring
    List2->setAccessibleName(QStringLiteral("单位列表"));

    List2->installEventFilter(this);

    lbUnitName = new QLabel(Frame1);
    lbUnitName->setObjectName(QStringLiteral("lbUnitName"));
    lbUnitName->setGeometry(TwipsRect(3105, 180, 2760, 375));
    lbUnitName->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    SetColor(lbUnitName, QPalette::WindowText, kBlue);

    for (int slot = 0; slot < kSlotCount; ++slot) {
        Text1[slot] = new QLineEdit(Frame1);
        Text1[slot]->setObjectName(Indexed("Text1", slot));
        Text1[slot]->setGeometry(kBoxPlaces[slot].box);
        menu_keys::KeepFromTyping(Text1[slot]);

        Label1[slot] = new QLabel(QString::fromUtf8(kStatSlots[slot].caption), Frame1);
        Label1[slot]->setObjectName(Indexed("Label1", slot));
        Label1[slot]->setGeometry(kBoxPlaces[slot].caption);
        Label1[slot]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        Label1[slot]->setProperty("Tag", QString::fromLatin1(kStatSlots[slot].tag));
        SetColor(Label1[slot], QPalette::WindowText, kCaptionText);
        // A screen reader names each box by its caption; the range's second
        // box, whose caption is the dash, by the range's caption and the dash.
        Label1[slot]->setBuddy(Text1[slot]);
        Text1[slot]->setAccessibleName(Label1[slot]->text());
    }
    Text1[kSlotCount - 1]->setAccessibleName(Label1[kSlotCount - 2]->text() + QLatin1Char(' ') +
                                             Label1[kSlotCount - 1]->text());
    Text1[0]->setFocus();
}

void Form1::SetTabOrder() {
    QWidget* previous = Text1[kBoxTabOrder[0]];
    auto chain = [&previous](QWidget* next) {
        QWidget::setTabOrder(previous, next);
        previous = next;
    };
    for (int i = 1; i < kSlotCount; ++i) chain(Text1[kBoxTabOrder[i]]);
    for (QWidget* next : {static_cast<QWidget*>(txtFind), static_cast<QWidget*>(List2),
                          static_cast<QWidget*>(cmdGetData), static_cast<QWidget*>(cmdSave),
                          static_cast<QWidget*>(Command1), static_cast<QWidget*>(Command2)})
        chain(next);
}

void Form1::ConnectEvents() {
    connect(cmdGetData, &QPushButton::clicked, this, &Form1::cmdGetData_Click);
    connect(cmdSave, &QPushButton::clicked, this, &Form1::cmdSave_Click);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    // A change of selection, not of the current row: the list makes its first
    // row current when it merely takes the focus, which selects nothing.
    connect(List2, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem*> selected = List2->selectedItems();
        if (!selected.isEmpty()) List2_Click(List2->row(selected.front()));
    });
    connect(txtFind, &QLineEdit::textChanged, this, &Form1::txtFind_Change);
    for (int slot = 0; slot < kSlotCount; ++slot)
        connect(Text1[slot], &QLineEdit::textChanged, this, [this, slot] { Text1_Change(slot); });
}

// --- commands ------------------------------------------------------------

void Form1::Form_Load() {
    // A save cut short may have left the file under its backup name, and
    // another editor's save may have it aside this moment. That save's end
    // is waited for with the window drawn as for a missing file: Read
    // disabled, a close put off until the wait is over.
    std::string error;
    cmdGetData->setEnabled(false);
    busy_ = true;
    document_.RestoreInterruptedSave(
        [this] {
            show();
            QCoreApplication::processEvents();
        },
        &error);
    busy_ = false;
    if (closeRequested_) {  // asked for while waiting: once the window is up
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    // Where a save held the turn too long the file may be back once it is
    // done: Read stays enabled.
    const bool exists = document_.Exists();
    cmdGetData->setEnabled(exists || !error.empty());
    if (exists) return;
    warning_box::Show(this, program_identity::Title(),
                      error.empty() ? QStringLiteral("无法读取资料文件,请看说明")
                                    : QStringLiteral("资料文件现在无法读取,稍后再读入:\n") + CoreText(error));
}

void Form1::cmdGetData_Click() {
    cmdGetData->setEnabled(false);
    SetOuterHeight(kStripTwips, kStripClientTwips);
    const int fullWidth = OuterWidthTwips();
    std::string error;
    bool wideText = false;
    const bool loaded = RunCommand([&] {
        return document_.Load(BarSink(fullWidth),
                              [this](std::size_t line) {
                                  // The first lines may say how the names are written.
                                  encoding_.NoteLine(document_.Line(line), document_.LineBreak(line));
                                  if (units_.onLine(document_, line))
                                      List2->addItem(encoding_.Decode(units_.Names().back()));
                              },
                              error, &wideText);
    });
    if (loaded) {
        SetOuterHeight(kReadyTwips, kReadyClientTwips);
        cmdSave->setEnabled(true);
        RestBar(fullWidth);
    } else {
        // Back to the state before reading, so the user can try again.
        units_.Clear();
        encoding_ = FileEncoding();
        List2->clear();
        setFixedHeight(TwipsToPixels(kClientHeightTwips));
        cmdGetData->setEnabled(true);
        SetBarWidth(kBarRect.width() * kTwipsPerPixel);
        TellProgress(0);  // covered again: nothing is under way
        const QString what = wideText ? QStringLiteral("读入资料文件失败,编辑器不编辑 UTF-16 或 UTF-32 编码的文件,文件未改动:\n")
                                      : QStringLiteral("读入资料文件失败:\n");
        warning_box::Show(this, program_identity::Title(), what + CoreText(error));
    }
    if (closeRequested_) close();
}

void Form1::cmdSave_Click() {
    const int fullWidth = OuterWidthTwips();
    SetOuterHeight(kStripTwips, kStripClientTwips);
    std::string error;
    auto failure = RulesDocument::SaveFailure::kFileUnchanged;
    const bool saved = RunCommand([&] {
        SetColor(lbProcess, QPalette::Window, kBlue);
        return document_.Save(BarSink(fullWidth), error, &failure);
    });
    SetOuterHeight(kReadyTwips, kReadyClientTwips);
    RestBar(fullWidth);
    if (!saved) {
        // The edits exist only in this window now: a close asked for while
        // saving would lose them.
        closeRequested_ = false;
        const QString what = failure == RulesDocument::SaveFailure::kFileUnchanged
                                 ? QStringLiteral("保存资料文件失败,文件未改动:\n")
                             : failure == RulesDocument::SaveFailure::kFileMissing
                                 ? QStringLiteral("资料文件未能替换,保存的内容在另一个文件中:\n")
                                 : QStringLiteral("保存资料文件失败:新文件已就位,但可能尚未写入磁盘:\n");
        warning_box::Show(this, program_identity::Title(), what + CoreText(error));
        return;
    }
    if (closeRequested_) close();
}

void Form1::Command1_Click() { frmAbout::ShowModal(this); }

void Form1::Command2_Click() {
    close();
    QCoreApplication::quit();
}

void Form1::List2_Click(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= units_.Names().size()) return;
    // The name comes from the index, not from the list's decoded text, so a
    // name the locale cannot show is still found.
    const std::string& name = units_.Names()[static_cast<std::size_t>(row)];
    const long found = FindTypeLine(document_, name, encoding_.form());
    if (found == -1) return;
    typeLine_ = found;
    for (int slot = 0; slot < kSlotCount; ++slot) Text1[slot]->setEnabled(SlotWritable(document_, found, slot));
    const SlotTexts texts = ReadSlots(document_, found);
    for (int slot : kFillOrder) Text1[slot]->setText(encoding_.Decode(texts[slot]));
    lbUnitName->setText(encoding_.Decode(name));
}

void Form1::Text1_Change(int slot) { WriteSlot(document_, typeLine_, slot, BoxTexts()); }

void Form1::txtFind_Change() {
    // A character the file cannot hold is in no name.
    std::string prefix;
    const int found = encoding_.Encode(txtFind->text(), prefix) ? units_.FindUnitByPrefix(prefix, encoding_.form()) : -1;
    setWindowTitle(QString::number(found));
    if (found < 0) return;
    // Selected, and current only when the list has the focus: the focus
    // stays in the find box, and a screen reader must not hear the entry as
    // focused.
    if (List2->hasFocus()) {
        List2->setCurrentRow(found);
    } else {
        List2->selectionModel()->select(List2->model()->index(found, 0), QItemSelectionModel::ClearAndSelect);
        List2->scrollToItem(List2->item(found));
    }
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched != List2) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::FocusIn) {
        // Arrow keys go on from the selected unit; with nothing selected the
        // list makes its first entry current, selecting nothing.
        const QModelIndexList selected = List2->selectionModel()->selectedIndexes();
        if (!selected.isEmpty()) List2->selectionModel()->setCurrentIndex(selected.front(), QItemSelectionModel::NoUpdate);
    } else if (event->type() == QEvent::FocusOut) {
        List2->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event) {
    if (busy_) {
        closeRequested_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

// --- helpers -------------------------------------------------------------

template <typename Body>
bool Form1::RunCommand(Body body) {
    // Hiding the frame takes every control that could start another command
    // or touch the document out of reach, access keys included.
    QPointer<QWidget> focused = focusWidget();
    Frame1->hide();
    busy_ = true;
    const bool ok = body();
    busy_ = false;
    Frame1->show();
    if (focused) focused->setFocus();
    return ok;
}

void Form1::SetOuterHeight(int twips, int minClientTwips) {
    const int frame = frameGeometry().height() - geometry().height();
    // A Wayland compositor that draws the frame itself does not say how tall
    // it is: taken as none, the window would come out taller by the whole
    // title bar. What the state must show is then all that can be set.
    if (frame == 0 && QGuiApplication::platformName() == QLatin1String("wayland")) {
        setFixedHeight(TwipsToPixels(minClientTwips));
        return;
    }
    setFixedHeight(std::max(TwipsToPixels(minClientTwips), TwipsToPixels(twips) - frame));
}

int Form1::OuterWidthTwips() const { return frameGeometry().width() * kTwipsPerPixel; }

void Form1::SetBarWidth(double twips) {
    const int pixels = static_cast<int>(std::clamp(twips / kTwipsPerPixel + 0.5, 0.0, double(QWIDGETSIZE_MAX)));
    // Most lines leave the bar as wide as it was; resize() would still walk
    // Qt's geometry code for each of them.
    if (pixels != lbProcess->width()) lbProcess->resize(pixels, lbProcess->height());
}

void Form1::RestBar(int fullWidthTwips) {
    SetBarWidth(kRestingBarTwips);
    // A reader hears what the bar shows now, not the last figure of the command.
    TellProgress(double(kRestingBarTwips) / fullWidthTwips);
}

// Per line: the bar's width and one pass of event processing; a screen
// reader hears of the 101 whole percentages only.
ProgressSink Form1::BarSink(int fullWidthTwips) {
    TellProgress(0);
    return {[this, fullWidthTwips](double fraction) {
                SetBarWidth(fraction * fullWidthTwips);
                TellProgress(fraction);
            },
            [] { QCoreApplication::processEvents(); }};
}

void Form1::TellProgress(double fraction) {
    const int percent = accessibility::ProgressPercent(fraction);
    if (percent == toldPercent_) return;
    toldPercent_ = percent;
    accessibility::SetProgress(lbProcess, percent);
}

SlotTexts Form1::BoxTexts() const {
    SlotTexts texts;
    // A character the file cannot hold ends the number there, as any other
    // character that is no part of a number would.
    for (int slot = 0; slot < kSlotCount; ++slot) encoding_.Encode(Text1[slot]->text(), texts[slot]);
    return texts;
}
