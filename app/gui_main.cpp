// The converter window: `revizevoz [FILE...]`; the first FILE of a format it reads is opened at start.
#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QSurfaceFormat>
#include <QThread>
#include <QTimer>

#include <cstdio>

#include "app/current_model.h"
#include "app/dialogs.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "app/translation.h"
#include "runtime/allocator.h"
#include "runtime/library.h"
#include "runtime/log.h"

int main(int argc, char** argv) {
    rv::restartWithHugePageHeap(argv);
    rv::keepModelMemoryForReuse();
    // The start file loads on the loader while Qt starts and the window and the preview's context
    // are made.
    std::optional<rv::PathLoad> startLoad = rv::beginStartFileLoad(std::vector<std::string>(argv + 1, argv + argc));
    rv::setPreviewSurfaceFormat();
    QApplication app(argc, argv);
    // The WM class and Wayland app id that tie the window to revizevoz.desktop (StartupWMClass).
    QApplication::setApplicationName("revizevoz");
    QGuiApplication::setDesktopFileName("revizevoz");
    if (!rv::installWindowTranslation(app))
        std::fprintf(stderr, "revizevoz: no English texts in %s; the window speaks Japanese\n",
                     qPrintable(rv::translationsFolder()));

    rv::QtDialogs dialogs;
    // Messages from any thread become a message box on the window's thread; the caller waits.
    rv::setMessageSink([&dialogs, &app](const std::string& file, const std::string& text) {
        const QString shown = QString::fromStdString(file.empty() ? text : file + ": " + text);
        auto show = [&] { dialogs.message(app.activeWindow(), shown, false); };
        if (QThread::currentThread() == app.thread())
            show();
        else
            QMetaObject::invokeMethod(&app, show, Qt::BlockingQueuedConnection);
    });

    rv::setCaptionedMessageSink([&app](const std::string& caption, const std::string& text) {
        auto show = [&] {
            QMessageBox::critical(app.activeWindow(), QString::fromStdString(caption), QString::fromStdString(text));
        };
        if (QThread::currentThread() == app.thread())
            show();
        else
            QMetaObject::invokeMethod(&app, show, Qt::BlockingQueuedConnection);
    });

    const std::string settingsPath = rv::settingsPath();
    rv::MainWindow window(dialogs, rv::readSettings(settingsPath), settingsPath);
    QStringList arguments = app.arguments();
    arguments.removeFirst();
    if (startLoad)
        window.openStartFile(std::move(*startLoad));
    rv::setCloseHandler([&window] { QTimer::singleShot(0, &window, &QWidget::close); });
    QObject::connect(window.preview(), &rv::PreviewWidget::runtimeStarted, &window, [&](bool ok) {
        if (!ok) {
            dialogs.message(nullptr, QCoreApplication::translate("rv::MainWindow", "初期化に失敗しました。"), true);
            QCoreApplication::exit(-1);
            return;
        }
        window.finishStartUp(arguments);
    });
    window.show();
    return app.exec();
}
