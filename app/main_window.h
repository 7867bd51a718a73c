// The converter's main window: the preview, the "ファイル" menu with its dialogs, the conversion
// panel, dropped-file batches with their progress, and the settings kept between runs.
#pragma once

#include "app/preview_widget.h"

#include <QLabel>
#include <QMainWindow>
#include <QMap>
#include <QMenu>
#include <QTimer>

#include <memory>
#include <optional>

#include "app/batch.h"
#include "app/conversion_panel.h"
#include "app/convert.h"
#include "app/current_model.h"
#include "app/dialogs.h"
#include "app/overlay.h"
#include "app/preview_widget.h"
#include "app/settings.h"

namespace rv {

// How many files the recent-files menu keeps.
inline constexpr int kRecentFileCount = 10;

// The project's page, opened from the menu.
inline constexpr const char* kDownloadUrl = "https://github.com/revizevoz/revizevoz";

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // `settings` as read at start; `settingsPath` is where they are written when the window goes
    // (empty: not written).
    MainWindow(UserDialogs& dialogs, const SettingsFile& settings, std::string settingsPath);
    ~MainWindow() override;

    // The rest of the start-up once the preview's runtime runs: settings into the preview, the
    // command-line file, the panel, drops. `arguments` are the program's, without its name.
    void finishStartUp(const QStringList& arguments);
    // Starts loading the command-line file while the window and its preview are still being
    // made, so that the first frame can show it; finishStartUp then opens no file of its own.
    void openStartFile(const QStringList& arguments);
    // Takes the start file's load, begun before the window was made.
    void openStartFile(PathLoad started);

    QAction* action(int command) const { return actions_.value(command); }
    ConversionPanel* panel() const { return panel_; }
    PreviewWidget* preview() const { return preview_; }
    const SettingsFile& settings() const { return settings_; }
    QString lastDirectory() const { return lastDirectory_; }
    // Most recent first.
    QStringList recentFiles() const { return recentFiles_; }
    QMenu* recentMenu() const { return recentMenu_; }

    // Converts dropped files one by one to the panel's target (queued after a running batch).
    void dropFiles(const QStringList& paths);
    bool batchRunning() const { return batch_.busy(); }
    // Waits until the batch and any menu load are done (tests).
    void finishWork();
    // The status line (the batch's progress).
    QString statusText() const { return status_->text(); }

    void runCommand(int command);

signals:
    // The window's start-up is complete (the runtime started or not).
    void startedUp(bool ok);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildMenu();
    void openCommand(int command);
    void saveCommand(int command);
    // A load from the menu tells its losses in a message; one from the command line only in the
    // status line.
    void startLoad(const std::string& path, bool fromMenu, bool simplify = false);
    // Makes `load` the window's load in progress (the current model already released).
    void takeLoad(PathLoad load, bool fromMenu);
    // Asks whether to simplify a model refused as over the limits (the refusal given).
    bool askSimplify(const std::string& refusal);
    void pollWork();
    void showLoaded(const LoadOutcome& loaded, std::shared_ptr<ModelPreparation> preparation = {});
    // Warnings in the status line, and in a message when `inMessage` is set and there are any.
    void tellWarnings(const std::vector<std::string>& warnings, bool inMessage);
    void releaseCurrent();
    void recordRectangle();
    void writeSettings();
    void handleInput(unsigned actions);
    void placeWindow();
    // Gives the frame the wanted rectangle once the window manager has framed the window; `late`
    // when no frame came in time (no window manager).
    void finishPlacement(bool late);
    // The panel at its place in the window; `raise` brings it above the window too.
    void placePanel(bool raise = false);
    void rememberRecent(const QString& path);
    void openRecent(int index);
    void rebuildRecentMenu();
    void showKeys();

    UserDialogs& dialogs_;
    SettingsFile settings_;
    std::string settingsPath_;
    bool settingsWritten_ = false;
    bool settingsFromFile_ = false;  // else the runtime's own start-up values stand
    PreviewWidget* preview_;
    ConversionPanel* panel_;
    QLabel* status_;
    QMap<int, QAction*> actions_;
    QString lastDirectory_;
    QStringList arguments_;
    bool startFileOpened_ = false;
    DropBatch batch_;
    std::optional<PathLoad> menuLoad_;
    bool menuLoadFromMenu_ = false;
    QTimer workTimer_;
    bool closeWhenIdle_ = false;
    bool adjusting_ = false;
    // The frame rectangle to take once the window manager has framed the window (its frame's
    // size is known only then); null when placed.
    QRect wantedFrame_;
    QRect centreOn_;  // the screen area a default placement is centred on; null for a stored one
    QString loadingPath_;  // the file of the running menu or start-up load
    QStringList recentFiles_;
    QMenu* recentMenu_ = nullptr;
};

}  // namespace rv
