// Timed runs of Read and Save through the real main window, before and after
// the about window has been opened and closed, beside the core's own
// Load/Save with a no-op sink and a bare loop that does only what the
// progress bar costs (per line: set a label's width, process events); wall
// time and the process's CPU time.
//   window_bench FILE [runs]      Read/Save figures for FILE, median of runs
//   window_bench --startup form FOLDER   ms from main() to the editor's first
//                                        paint, on FOLDER/data/unitrules.xml
//   window_bench --startup empty  the same for an empty QWidget
//   window_bench --startup label  ... for a QWidget with one Chinese label
//   window_bench --peak FILE      peak memory of Read, select, edit, Save
//   window_bench --pass [count]   ns per pass of event processing, idle and
//                                 with a bar step, under the dispatcher in use
// bench/run_window_bench.sh runs it under offscreen and under Xvfb.
#include "Form1.h"
#include "rules_document.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

namespace {

const auto kProcessStart = std::chrono::steady_clock::now();

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double TimeMs(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Wall time, and this process's CPU time, which a busy machine disturbs less
// (it leaves out what the X server does for the process).
struct Timing {
    double wall = 0, cpu = 0;  // ms
};

Timing Time(const std::function<void()>& work) {
    const std::clock_t cpuStart = std::clock();
    const double wall = TimeMs(work);
    return {wall, 1e3 * double(std::clock() - cpuStart) / CLOCKS_PER_SEC};
}

struct Timings {
    std::vector<double> wall, cpu;
    void Add(Timing timing) {
        wall.push_back(timing.wall);
        cpu.push_back(timing.cpu);
    }
    Timing Median() const { return {::Median(wall), ::Median(cpu)}; }
};

Timing operator+(Timing a, Timing b) { return {a.wall + b.wall, a.cpu + b.cpu}; }

// A program folder holding a copy of the file as data/unitrules.xml.
std::string ProgramFolderWith(const std::string& file) {
    const auto folder = std::filesystem::temp_directory_path() / "tarvenor-window-bench";
    std::filesystem::create_directories(folder / "data");
    std::filesystem::copy_file(file, folder / "data/unitrules.xml", std::filesystem::copy_options::overwrite_existing);
    return folder.string();
}

// What the progress bar costs by itself: per line, a label's width and one
// pass of event processing. Reading also reads the file's lines (a plain read
// and split); saving walks the lines already in memory.
Timing BareBarLoop(const std::string& file, const RulesDocument& lines, bool reading) {
    QWidget window;
    window.setFixedSize(412, 53);
    QLabel bar(&window);
    bar.setAutoFillBackground(true);
    bar.setAttribute(Qt::WA_StaticContents);  // as the editor's bar
    bar.setGeometry(3, 3, 367, 19);
    window.show();
    QApplication::processEvents();
    const int fullWidth = window.frameGeometry().width() * 15;
    auto setBar = [&](double fraction) {
        bar.resize(static_cast<int>(fraction * fullWidth / 15 + 0.5), bar.height());
        QApplication::processEvents();
    };
    return Time([&] {
        if (reading) {
            std::string bytes(std::filesystem::file_size(file), '\0');
            std::FILE* in = std::fopen(file.c_str(), "rb");
            bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
            std::fclose(in);
            std::vector<std::string> read;
            for (std::size_t at = 0; at < bytes.size();) {
                std::size_t cr = bytes.find('\r', at);
                if (cr == std::string::npos) cr = bytes.size();
                read.emplace_back(bytes, at, cr - at);
                at = cr + 1;
                if (at < bytes.size() && bytes[at] == '\n') ++at;
                setBar(double(at / 128) / 3600.0);
            }
        } else {
            const std::size_t count = lines.LineCount();
            for (std::size_t i = 0; i < count; ++i) setBar(double(i) / double(count - 1));
        }
    });
}

// A Read and then a Save through a fresh main window, each timed; with
// aboutFirst the about window is opened by its button and closed before.
void TimeWindowCommands(const std::string& folder, bool aboutFirst, Timings& read, Timings& save) {
    Form1 form(QString::fromStdString(folder));
    form.show();
    QApplication::processEvents();
    if (aboutFirst) {
        QTimer::singleShot(0, [] {
            if (QWidget* about = QApplication::activeModalWidget()) about->close();
        });
        form.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
        QApplication::processEvents();
    }
    read.Add(Time([&] { form.findChild<QPushButton*>(QStringLiteral("cmdGetData"))->click(); }));
    form.findChild<QListWidget*>(QStringLiteral("List2"))->setCurrentRow(0);
    save.Add(Time([&] { form.findChild<QPushButton*>(QStringLiteral("cmdSave"))->click(); }));
}

void PrintRatios(const char* what, double read, double readFloor, double save, double saveFloor, double aboutRead,
                 double aboutSave) {
    std::printf("  %s: to floor Read %.2fx, Save %.2fx; after About to floor Read %.2fx, Save %.2fx;"
                " after About to before Read %.2fx, Save %.2fx\n",
                what, read / readFloor, save / saveFloor, aboutRead / readFloor, aboutSave / saveFloor,
                aboutRead / read, aboutSave / save);
}

// The floor of a command is what it cannot avoid: for Read the bare loop,
// which reads the file too; for Save the bare loop plus the core's own Save.
// The window's commands run before and after the about window in turns, so
// that neither always runs on a fresher heap.
int RunReadSave(const std::string& file, int runs) {
    const std::string folder = ProgramFolderWith(file);
    Timings coreLoad, coreSave, bareRead, bareSave, saveFloor, windowRead, windowSave, aboutRead, aboutSave;
    const ProgressSink noOp{[](double) {}, [] {}};
    for (int run = 0; run < runs; ++run) {
        RulesDocument doc(folder);
        std::string error;
        coreLoad.Add(Time([&] { doc.Load(noOp, [](std::size_t) {}, error); }));
        const Timing save = Time([&] { doc.Save(noOp, error); });
        coreSave.Add(save);
        bareRead.Add(BareBarLoop(file, doc, true));
        const Timing bare = BareBarLoop(file, doc, false);
        bareSave.Add(bare);
        saveFloor.Add(bare + save);
        for (bool aboutFirst : {run % 2 == 1, run % 2 == 0})
            TimeWindowCommands(folder, aboutFirst, aboutFirst ? aboutRead : windowRead, aboutFirst ? aboutSave : windowSave);
    }
    auto pair = [](const char* a, const Timings& first, const char* b, const Timings& second) {
        std::printf("  %-12s %9.1f ms (CPU %9.1f)   %-12s %9.1f ms (CPU %9.1f)\n", a, first.Median().wall,
                    first.Median().cpu, b, second.Median().wall, second.Median().cpu);
    };
    const double bytes = double(std::filesystem::file_size(file));
    std::printf("file %s: %.0f bytes, platform %s, median of %d runs\n", file.c_str(), bytes,
                qPrintable(QGuiApplication::platformName()), runs);
    pair("core Load", coreLoad, "core Save", coreSave);
    pair("bare read", bareRead, "bare save", bareSave);
    std::printf("  (no-op sink; bare: plain read and split, label width + events per line)\n");
    pair("floor Read", bareRead, "floor Save", saveFloor);
    pair("window Read", windowRead, "window Save", windowSave);
    pair("after About", aboutRead, "after About", aboutSave);
    PrintRatios("wall", windowRead.Median().wall, bareRead.Median().wall, windowSave.Median().wall,
                saveFloor.Median().wall, aboutRead.Median().wall, aboutSave.Median().wall);
    PrintRatios("CPU ", windowRead.Median().cpu, bareRead.Median().cpu, windowSave.Median().cpu,
                saveFloor.Median().cpu, aboutRead.Median().cpu, aboutSave.Median().cpu);
    std::filesystem::remove_all(folder);
    return 0;
}

// The cost of one pass of event processing with nothing pending, and of one
// line's step of a bar that grows across the window over count lines (a
// label's width, then a pass), under whichever event dispatcher the
// application got (QT_NO_GLIB=1 asks for Qt's own).
int RunPass(int count) {
    QWidget window;
    window.setFixedSize(412, 53);
    QLabel bar(&window);
    bar.setAutoFillBackground(true);
    bar.setAttribute(Qt::WA_StaticContents);
    bar.setGeometry(3, 3, 1, 19);
    window.show();
    for (int i = 0; i < 100; ++i) QApplication::processEvents();
    const Timing idle = Time([&] {
        for (int i = 0; i < count; ++i) QApplication::processEvents();
    });
    const Timing step = Time([&] {
        for (int i = 0; i < count; ++i) {
            bar.resize(1 + static_cast<int>(400LL * i / count), bar.height());
            QApplication::processEvents();
        }
    });
    const double ns = 1e6 / count;
    std::printf("  %-24s %-9s ns per pass %5.0f (CPU %5.0f), per line's bar step %5.0f (CPU %5.0f)\n",
                QCoreApplication::eventDispatcher()->metaObject()->className(),
                qPrintable(QGuiApplication::platformName()), idle.wall * ns, idle.cpu * ns, step.wall * ns, step.cpu * ns);
    return 0;
}

// Shows a window and reports the time from main() to its first paint.
int RunStartup(const char* editorFolder, bool withLabel) {
    std::unique_ptr<QWidget> window;
    if (editorFolder) {
        window = std::make_unique<Form1>(QString::fromLocal8Bit(editorFolder));
    } else {
        window = std::make_unique<QWidget>();
        window->resize(412, 270);
        // The first text drawn loads the font database, which the editor's
        // captions cannot avoid.
        if (withLabel) new QLabel(QStringLiteral("读入数据"), window.get());
    }
    struct FirstPaint : QObject {
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint && !done) {
                done = true;
                const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - kProcessStart);
                std::printf("%.2f\n", ms.count());
                QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            }
            return false;
        }
        bool done = false;
    } firstPaint;
    window->installEventFilter(&firstPaint);
    window->show();
    return QApplication::exec();
}

// Peak resident memory of one whole edit through the window, against the
// budgets of the line store: 1.5 times the file plus 40 MiB for ordinary
// files, and 16 bytes a line plus 1.2 times the file plus 40 MiB for files
// of very short lines.
int RunPeak(const std::string& file) {
    const std::string folder = ProgramFolderWith(file);
    std::size_t lines = 0;
    {
        Form1 form(QString::fromStdString(folder));
        form.show();
        form.findChild<QPushButton*>(QStringLiteral("cmdGetData"))->click();
        lines = form.document().LineCount();
        auto* list = form.findChild<QListWidget*>(QStringLiteral("List2"));
        list->setCurrentRow(list->count() - 1);
        form.findChild<QLineEdit*>(QStringLiteral("Text1(0)"))->setText(QStringLiteral("42"));
        form.findChild<QPushButton*>(QStringLiteral("cmdSave"))->click();
    }
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    const double peakMiB = double(counters.PeakWorkingSetSize) / (1 << 20);
#else
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const double peakMiB = double(usage.ru_maxrss) / 1024;
#endif
    const double fileMiB = double(std::filesystem::file_size(file)) / (1 << 20);
    const double perFile = 1.5 * fileMiB + 40;
    const double perLine = 16.0 * double(lines) / (1 << 20) + 1.2 * fileMiB + 40;
    std::printf("peak RSS %.1f MiB for a %.1f MiB file of %zu lines: %.2fx the file; "
                "budgets 1.5x + 40 MiB = %.1f MiB, 16 B/line + 1.2x + 40 MiB = %.1f MiB\n",
                peakMiB, fileMiB, lines, peakMiB / fileMiB, perFile, perLine);
    std::filesystem::remove_all(folder);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc >= 3 && std::string(argv[1]) == "--startup")
        return RunStartup(std::string(argv[2]) == "form" && argc >= 4 ? argv[3] : nullptr,
                          std::string(argv[2]) == "label");
    if (argc >= 3 && std::string(argv[1]) == "--peak") return RunPeak(argv[2]);
    if (argc >= 2 && std::string(argv[1]) == "--pass") return RunPass(argc >= 3 ? std::atoi(argv[2]) : 200000);
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_bench FILE [runs] | --startup form FOLDER | --startup empty|label | --peak FILE"
                             " | --pass [count]\n");
        return 2;
    }
    return RunReadSave(argv[1], argc >= 3 ? std::atoi(argv[2]) : 5);
}
