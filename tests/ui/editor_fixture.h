// The editor opened on a rules file of a scratch program folder, for the
// window tests: its controls by their designer names, and the user's steps.
#pragma once

#include "Form1.h"

#include "test_files.h"
#include "unit_records.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

// A program folder with a rules file, and the window opened on it.
class Editor {
public:
    explicit Editor(const std::string& bytes) {
        MakeFolder(folder / "data");
        WriteBytes(file(), bytes);
        form = std::make_unique<Form1>(QString::fromStdString(folder.path()));
        form->show();
    }
    explicit Editor(const std::vector<std::string>& lines) : Editor(CrlfBytes(lines)) {}

    std::string file() const { return folder / "data/unitrules.xml"; }
    template <typename T>
    T* get(const char* name) const {
        T* widget = form->findChild<T*>(QString::fromLatin1(name));
        if (!widget) qFatal("no control %s", name);
        return widget;
    }
    QLineEdit* box(int slot) const { return get<QLineEdit>(QStringLiteral("Text1(%1)").arg(slot).toLatin1()); }
    void read() const { get<QPushButton>("cmdGetData")->click(); }
    void save() const { get<QPushButton>("cmdSave")->click(); }
    void select(int row) const { get<QListWidget>("List2")->setCurrentRow(row); }
    // A click on the unit's entry in the list, as the user makes it.
    void click(int row) const {
        auto* list = get<QListWidget>("List2");
        list->scrollToItem(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
    }
    std::string line(long index) const { return std::string(form->document().Line(static_cast<std::size_t>(index))); }
    std::vector<std::string> lines() const {
        std::vector<std::string> all;
        for (std::size_t i = 0; i < form->document().LineCount(); ++i) all.emplace_back(form->document().Line(i));
        return all;
    }
    void retype(int slot, const QString& text) const {
        box(slot)->selectAll();
        QTest::keyClicks(box(slot), text);
    }

    ScratchFolder folder;
    std::unique_ptr<Form1> form;
};

// Chinese text arrives as an input method's commit, not as key presses.
void TypeThroughInputMethod(QWidget* box, const QString& text) {
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(box, &commit);
}

// Under Wine, tools/wine_prefix.sh stands in for the browser: it appends every
// address opened through the shell to this file (empty when not under Wine).
inline QString ShellAddressLog() {
    const QString prefix = qEnvironmentVariable("WINEPREFIX");
    if (prefix.isEmpty()) return {};
    return QStringLiteral("Z:") + QDir::toNativeSeparators(prefix + QStringLiteral("/opened-addresses.txt"));
}

inline QStringList LoggedAddresses(const QString& log) {
    QFile file(log);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                          : QStringList();
}
