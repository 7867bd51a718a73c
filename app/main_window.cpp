#include "app/main_window.h"

#include <algorithm>
#include <string_view>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include "model/registry.h"
#include "runtime/library.h"
#include "runtime/log.h"
#include "runtime/paths.h"

namespace rv {

namespace {

// The labels of the information overlay (the text before " : ") and its two help lines.
[[maybe_unused]] const char* const kOverlayTexts[] = {
    QT_TRANSLATE_NOOP("rv::MainWindow", "ファイル名"),
    QT_TRANSLATE_NOOP("rv::MainWindow", "ポリゴン　"),
    QT_TRANSLATE_NOOP("rv::MainWindow", "グループ　"),
    QT_TRANSLATE_NOOP("rv::MainWindow", "テクスチャ"),
    QT_TRANSLATE_NOOP("rv::MainWindow", "変換後の拡張子を選択して、複数ファイルをドラッグ＆ドロップで"),
    QT_TRANSLATE_NOOP("rv::MainWindow", "コンバートできるようになりました。( KZP形式の場合、最新版にコンバート )"),
};

QString translated(const char* source) { return QCoreApplication::translate("rv::MainWindow", source); }

// The overlay's lines in the window's language; the values after " : " stay as they are.
std::vector<OverlayLine> translatedOverlay(std::vector<OverlayLine> lines) {
    for (OverlayLine& line : lines) {
        const QString text = QString::fromStdString(line.text);
        const qsizetype colon = text.indexOf(" : ");
        const QString shown = colon < 0 ? translated(text.toUtf8().constData())
                                        : translated(text.left(colon).toUtf8().constData()) + text.mid(colon);
        line.text = shown.toStdString();
    }
    return lines;
}

// Where the window keeps what is not part of the settings file (recent files, the last folder).
std::unique_ptr<QSettings> windowPreferences() {
    const std::string folder = settingsFolder();
    if (folder.empty())
        return nullptr;
    return std::make_unique<QSettings>(QString::fromStdString(folder) + "/revizevoz.conf", QSettings::IniFormat);
}

QString formatFilter(const QString& format) { return QString("%1 Files (%2)").arg(format, anyCasePattern(format)); }

// Every extension of a reader's format, in any case ("*.glb *.GLB ... *.gltf ...").
QString readerPattern(const ReaderEntry& reader) {
    QStringList patterns;
    for (const ReaderEntry& other : readerTable())
        if (std::string_view(other.name) == reader.name)
            patterns << anyCasePattern(QString::fromUtf8(other.extension));
    return patterns.join(' ');
}

// The entries of the open-any dialog: every supported format at once (selected), then each
// format, then all files.
QStringList anyFormatFilters() {
    QStringList all;
    QStringList filters;
    for (const ReaderEntry* reader : readersInMenuOrder()) {
        const QString pattern = readerPattern(*reader);
        all << pattern;
        filters << QString("%1 (%2)").arg(translated(reader->anyFilterLabel), pattern);
    }
    filters << QString("%1 (*)").arg(translated(QT_TRANSLATE_NOOP("rv::MainWindow", "\t\tすべてのファイル")));
    filters.prepend(
        QString("%1 (%2)").arg(translated(QT_TRANSLATE_NOOP("rv::MainWindow", "対応するすべての形式")), all.join(' ')));
    return filters;
}

const ReaderEntry* readerForCommand(int command) {
    for (const ReaderEntry& reader : readerTable())
        if (reader.openCommand == command)
            return &reader;
    return nullptr;
}

const WriterEntry* writerForCommand(int command) {
    for (const WriterEntry& writer : writerTable())
        if (writer.saveCommand != 0 && writer.saveCommand == command)
            return &writer;
    return nullptr;
}

QString toQt(const std::string& utf8) { return QString::fromStdString(utf8); }

}  // namespace

MainWindow::MainWindow(UserDialogs& dialogs, const SettingsFile& settings, std::string settingsPath)
    : dialogs_(dialogs),
      settings_(settings),
      settingsPath_(std::move(settingsPath)),
      preview_(new PreviewWidget(this)),
      panel_(nullptr),
      status_(new QLabel(this)),
      batch_(DropBatch::Hooks{[this] { releaseCurrent(); },
                              [this](Model* model, ModelInstance* instance) { preview_->show(model, instance); },
                              [this](std::size_t done, std::size_t total, const ConvertReport& report) {
                                  for (const std::string& w : report.warnings)
                                      logText(w);
                                  QString text =
                                      tr("変換 %1 / %2 : %3").arg(done).arg(total).arg(toQt(fileNameOf(report.source)));
                                  if (!report.warnings.empty())
                                      text += " : " + toQt(report.warnings.front());
                                  status_->setText(text);
                              },
                              [this](const std::string& refusal) { return askSimplify(refusal); }}) {
    settingsFromFile_ = !settingsPath_.empty() && QFileInfo::exists(QString::fromStdString(settingsPath_));
    setWindowTitle("REVizevoz 2015");
    setAcceptDrops(true);
    if (const auto prefs = windowPreferences()) {
        recentFiles_ = prefs->value("recentFiles").toStringList().mid(0, kRecentFileCount);
        lastDirectory_ = prefs->value("lastFolder").toString();
    }
    if (lastDirectory_.isEmpty() || !QFileInfo(lastDirectory_).isDir())
        lastDirectory_ = QDir::homePath();
    setCentralWidget(preview_);
    statusBar()->addWidget(status_, 1);
    buildMenu();

    preview_->overlay = [] { return translatedOverlay(overlayLines(currentModel())); };
    preview_->registryStep = [] { registry().collect(); };
    preview_->setGrid(settings_.referenceGeometry != 0);
    connect(preview_, &PreviewWidget::inputActions, this, &MainWindow::handleInput);
    preview_->installEventFilter(this);
    connect(preview_, &PreviewWidget::captionDue, this, [this] { setWindowTitle("REVizevoz 2015"); });

    workTimer_.setInterval(10);
    connect(&workTimer_, &QTimer::timeout, this, &MainWindow::pollWork);

    placeWindow();
}

void MainWindow::placeWindow() {
    std::vector<ScreenRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect a = screen->availableGeometry();
        screens.push_back({a.left(), a.top(), a.width(), a.height()});
    }
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QRect p = primary ? primary->availableGeometry() : QRect(0, 0, 1280, 800);
    // By default a 1280-wide window with a 16:9 preview. Until the window manager has framed the
    // window the title bar's height is a guess.
    constexpr int kTitleGuess = 30;
    const QSize inner(1280, clientHeightFor(1280) + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    const ScreenRect fallback{0, 0, inner.width(), inner.height() + kTitleGuess};
    const ScreenRect r = startRectangle(settings_, screens, {p.left(), p.top(), p.width(), p.height()}, fallback);
    const bool stored = r.left == settings_.windowLeft && r.top == settings_.windowTop &&
                        r.width == settings_.windowWidth && r.height == settings_.windowHeight;
    // The stored rectangle is the frame's: move() places the frame's corner, and the inner size
    // follows once the frame's size is known. The default is centred again then.
    wantedFrame_ = QRect(r.left, r.top, r.width, r.height);
    centreOn_ = stored ? QRect() : p;
    move(r.left, r.top);
    resize(stored ? QSize(r.width, std::max(100, r.height - kTitleGuess)) : inner);
}

void MainWindow::finishPlacement(bool late) {
    if (wantedFrame_.isNull())
        return;
    const QRect want = wantedFrame_;
    QSize frameExtra = frameGeometry().size() - geometry().size();
    // While the window manager reparents the window the two rectangles can disagree wildly for
    // a moment: wait for a frame of plausible size, or take none when it never comes.
    const bool plausible =
        frameExtra.width() >= 0 && frameExtra.height() >= 0 && frameExtra.width() <= 200 && frameExtra.height() <= 200;
    if (!plausible) {
        if (!late)
            return;
        frameExtra = QSize(0, 0);
    }
    if (centreOn_.isNull()) {
        // The preview's 16:9 rule may still correct the height by a pixel.
        resize(want.width() - frameExtra.width(), want.height() - frameExtra.height());
        move(want.topLeft());
    } else {
        QRect frame(QPoint(), frameGeometry().size());
        frame.moveCenter(centreOn_.center());
        move(frame.topLeft());
    }
    wantedFrame_ = QRect();
    recordRectangle();
    placePanel(true);
}

void MainWindow::placePanel(bool raise) {
    if (!panel_ || !isVisible() || isMinimized())
        return;
    panel_->placeBeside(this);
    // A window manager may stack the panel under the window it belongs to when the window is
    // activated after the panel appeared.
    if (raise && panel_->isVisible())
        panel_->raise();
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Without a window manager no frame ever appears: place the window as it is.
    QTimer::singleShot(500, this, [this] { finishPlacement(true); });
}

MainWindow::~MainWindow() {
    writeSettings();
    preview_->show(nullptr, nullptr);
}

void MainWindow::buildMenu() {
    QMenu* file = menuBar()->addMenu(tr("ファイル"));
    auto add = [&](QMenu* menu, int id, const char* text, QKeySequence keys = {}) {
        QAction* a = menu->addAction(tr(text));
        a->setData(id);
        a->setShortcut(keys);
        connect(a, &QAction::triggered, this, [this, id] { runCommand(id); });
        actions_[id] = a;
    };
    add(file, kOpenAny, QT_TR_NOOP("読み込み"), QKeySequence::Open);
    for (const ReaderEntry* reader : readersInMenuOrder())
        add(file, reader->openCommand, reader->openItem);
    recentMenu_ = file->addMenu(tr("最近使ったファイル"));
    rebuildRecentMenu();
    file->addSeparator();
    for (const WriterEntry& writer : writerTable())
        if (writer.saveCommand != 0)
            add(file, writer.saveCommand, writer.saveItem);
    add(file, kSaveTarget, QT_TR_NOOP("　保存　  ( 変換後パネルの形式 )"), QKeySequence::Save);
    file->addSeparator();
    add(file, kShowPanel, QT_TR_NOOP("変換後パネルを表示"));
    file->addSeparator();
    add(file, kExit, QT_TR_NOOP("　終了"), QKeySequence(Qt::CTRL | Qt::Key_Q));
    QAction* download = menuBar()->addAction(tr("最新版のダウンロードはこちらへ"));
    download->setData(int(kDownload));
    connect(download, &QAction::triggered, this, [this] { runCommand(kDownload); });
    actions_[kDownload] = download;
    QMenu* help = menuBar()->addMenu(tr("ヘルプ"));
    add(help, kHelpKeys, QT_TR_NOOP("キーとマウスの操作"), QKeySequence::HelpContents);
}

void MainWindow::rebuildRecentMenu() {
    recentMenu_->clear();
    for (int i = 0; i < recentFiles_.size(); ++i) {
        // "&1 name" makes the digit the item's key; a "&" in the name is doubled to stay text.
        const QString name = QFileInfo(recentFiles_[i]).fileName().replace('&', "&&");
        QAction* a = recentMenu_->addAction(i < 9 ? QString("&%1 %2").arg(i + 1).arg(name) : name);
        a->setToolTip(recentFiles_[i]);
        a->setStatusTip(recentFiles_[i]);
        a->setData(kRecentFirst + i);
        connect(a, &QAction::triggered, this, [this, i] { openRecent(i); });
    }
    recentMenu_->setEnabled(!recentFiles_.isEmpty());
}

void MainWindow::rememberRecent(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    recentFiles_.removeAll(absolute);
    recentFiles_.prepend(absolute);
    while (recentFiles_.size() > kRecentFileCount)
        recentFiles_.removeLast();
    if (const auto prefs = windowPreferences())
        prefs->setValue("recentFiles", recentFiles_);
    rebuildRecentMenu();
}

void MainWindow::openRecent(int index) {
    if (index < 0 || index >= recentFiles_.size() || menuLoad_ || batch_.busy())
        return;
    const QString path = recentFiles_[index];
    if (!QFileInfo(path).isFile()) {
        recentFiles_.removeAt(index);
        if (const auto prefs = windowPreferences())
            prefs->setValue("recentFiles", recentFiles_);
        rebuildRecentMenu();
        dialogs_.message(this, tr("ファイルが見つかりません。最近使ったファイルから外しました。\n%1").arg(path), false);
        return;
    }
    startLoad(path.toStdString(), true);
}

void MainWindow::showKeys() {
    dialogs_.information(this, tr("キーとマウスの操作"),
                         tr("右ボタンでドラッグ : 回転\n"
                            "中ボタンでドラッグ : 移動\n"
                            "ホイール : 拡大・縮小\n"
                            "Home : モデル全体を表示\n"
                            "F2 : アンチエイリアスの切り替え\n"
                            "F3 : シェーダーの切り替え\n"
                            "F5 : 表示の更新\n"
                            "Esc : 確認せずに終了\n"
                            "Ctrl+O : 読み込み\n"
                            "Ctrl+S : 変換後パネルの形式で保存\n"
                            "Ctrl+Q : 終了\n"
                            "ファイルのドラッグ＆ドロップ : 変換後パネルの形式に変換"));
}

void MainWindow::finishStartUp(const QStringList& arguments) {
    arguments_ = arguments;
    if (settingsFromFile_) {
        preview_->makeCurrent();
        AntiAliasSet(settings_.antiAliasOn != 0);
        preview_->doneCurrent();
        lib().lightOn = settings_.lightOn != 0;
        lib().shaderMode = settings_.displayWord5 != 0;
    }
    openStartFile(arguments);
    // A start file loaded while the context was made shows in the first frame; one that needs a
    // word with the user waits for the poll, outside the context's set-up.
    if (menuLoad_ && menuLoad_->ready() && !menuLoad_->refused && !menuLoad_->result->error &&
        !menuLoad_->result->overLimits)
        pollWork();
    panel_ = new ConversionPanel(this);
    panel_->placeBeside(this);
    panel_->show();
    // Once more when the window manager has framed the window and placed it.
    QTimer::singleShot(0, this, [this] { placePanel(true); });
    activateWindow();
    preview_->setFocus();
    emit startedUp(true);
}

void MainWindow::openStartFile(const QStringList& arguments) {
    std::vector<std::string> paths;
    for (const QString& argument : arguments)
        paths.push_back(argument.toStdString());
    if (std::optional<PathLoad> started = startFileOpened_ ? std::nullopt : beginStartFileLoad(paths))
        openStartFile(std::move(*started));
    startFileOpened_ = true;
}

void MainWindow::openStartFile(PathLoad started) {
    if (startFileOpened_)
        return;
    startFileOpened_ = true;
    releaseCurrent();
    takeLoad(std::move(started), false);
}

void MainWindow::runCommand(int command) {
    if (command == kSaveTarget) {
        saveCommand(writerFor(panel_ ? panel_->target() : ConversionTarget::Kzp).saveCommand);
    } else if (command == kShowPanel) {
        if (panel_) {
            placePanel();
            panel_->bringUp();
        }
    } else if (command == kHelpKeys) {
        showKeys();
    } else if (command == kExit) {
        if (dialogs_.confirm(this, tr("終了してもいいですか？")))
            close();
        ResyncTiming();
    } else if (command == kDownload) {
        dialogs_.openUrl(QUrl(kDownloadUrl));
    } else if (command == kOpenAny || readerForCommand(command)) {
        openCommand(command);
    } else {
        saveCommand(command);
    }
}

void MainWindow::openCommand(int command) {
    const ReaderEntry* reader = readerForCommand(command);
    if (!reader && command != kOpenAny)
        return;
    const QString format = reader ? QString::fromUtf8(reader->name) : QString();
    const QStringList filters =
        reader ? QStringList{QString("%1 Files (%2)").arg(format, readerPattern(*reader))} : anyFormatFilters();
    const QString title = reader ? tr(reader->openTitle) : tr("読み込むファイルを選択して下さい");
    const QString chosen = dialogs_.openFile(this, title, lastDirectory_, filters, format);
    ResyncTiming();
    if (chosen.isEmpty())
        return;
    lastDirectory_ = QFileInfo(chosen).absolutePath();
    if (const auto prefs = windowPreferences())
        prefs->setValue("lastFolder", lastDirectory_);
    startLoad(chosen.toStdString(), true);
}

void MainWindow::saveCommand(int command) {
    const WriterEntry* found = writerForCommand(command);
    const Model* model = currentModel();
    if (!found || !model || batch_.busy() || menuLoad_)
        return;
    QString initial = tr(found->initialName);
    const std::string base = baseNameOf(model->fileName);
    if (!base.empty())
        initial = toQt(sjisToUtf8(base).value_or(base)) + "." + found->initialExtension;
    const QString format = QString::fromUtf8(found->dialogFormat);
    // An .x file can be written three ways; the filter chosen says which (binary unless changed).
    static const XForm kXForms[] = {XForm::Binary, XForm::Text, XForm::Compressed};
    QStringList filters;
    if (found->target == ConversionTarget::X)
        for (const char* form : {"binary", "text", "compressed"})
            filters << QString("%1 Files, %2 (%3)").arg(format, form, anyCasePattern(format));
    else
        filters << formatFilter(format);
    int chosenFilter = 0;
    const QString chosen = dialogs_.saveFile(this, tr("名前を付けてファイルに保存"), lastDirectory_, initial, filters,
                                             format, chosenFilter);
    ResyncTiming();
    if (chosen.isEmpty())
        return;
    SaveOptions options;
    if (found->target == ConversionTarget::X)
        options.xForm = kXForms[std::clamp(chosenFilter, 0, 2)];
    const SaveOutcome saved = saveModel(*model, found->target, chosen.toStdString(), options);
    tellWarnings(saved.warnings, saved.ok);
    if (!saved.ok)
        dialogs_.message(this, toQt(errorText(saved.error)), true);
}

void MainWindow::tellWarnings(const std::vector<std::string>& warnings, bool inMessage) {
    QStringList lines;
    for (const std::string& w : warnings)
        lines << toQt(w);
    status_->setText(lines.join("; "));
    if (inMessage && !lines.isEmpty())
        dialogs_.message(this, lines.join('\n'), false);
}

void MainWindow::startLoad(const std::string& path, bool fromMenu, bool simplify) {
    if (menuLoad_ || batch_.busy())
        return;
    releaseCurrent();
    takeLoad(beginLoadByPath(path, LoadOptions{simplify}, true), fromMenu);
}

void MainWindow::takeLoad(PathLoad load, bool fromMenu) {
    menuLoadFromMenu_ = fromMenu;
    loadingPath_ = QString::fromStdString(load.path);
    menuLoad_ = std::move(load);
    workTimer_.start();
}

bool MainWindow::askSimplify(const std::string& refusal) {
    // The question waits in a loop of its own: no poll may run beneath it.
    const bool polling = workTimer_.isActive();
    workTimer_.stop();
    const bool yes =
        dialogs_.confirm(this, tr("%1\n\n上限に収まるようにポリゴンを減らして読み込みますか？").arg(toQt(refusal)));
    if (polling)
        workTimer_.start();
    return yes;
}

void MainWindow::releaseCurrent() { preview_->show(nullptr, nullptr); }

void MainWindow::showLoaded(const LoadOutcome& loaded, std::shared_ptr<ModelPreparation> preparation) {
    preview_->show(loaded.model, loaded.instance, std::move(preparation));
    if (!loadingPath_.isEmpty())
        rememberRecent(loadingPath_);
    loadingPath_.clear();
}

void MainWindow::pollWork() {
    if (menuLoad_ && menuLoad_->ready()) {
        PathLoad load = std::move(*menuLoad_);
        menuLoad_.reset();
        const LoadOutcome outcome = finishLoadByPath(load);
        // A model over the limits: simplified and loaded again when the user wants it.
        if (outcome.overLimits && askSimplify(errorText(outcome.error))) {
            startLoad(load.path, menuLoadFromMenu_, true);
            return;
        }
        for (const std::string& w : outcome.warnings)
            logText(w);
        if (outcome.model)
            showLoaded(outcome, std::move(load.preparation));
        // What the file lost on the way in (textures not found, parts left out) is told once.
        tellWarnings(outcome.warnings, outcome.model && menuLoadFromMenu_);
        if (outcome.error && !outcome.error->userMessage && !outcome.overLimits)  // the question told it
            dialogs_.message(this, toQt(outcome.error->message()), true);
        ResyncTiming();
    }
    // A batch whose files were all skipped is over before it began: its report is still due.
    if (!menuLoad_ && (batch_.busy() || batch_.done() > 0)) {
        const bool more = batch_.poll();
        if (more)
            status_->setText(tr("変換中 %1 / %2 : %3 (残り %4)")
                                 .arg(batch_.done() + 1)
                                 .arg(batch_.total())
                                 .arg(toQt(fileNameOf(batch_.currentFile())))
                                 .arg(batch_.total() - batch_.done()));
        if (!more) {
            const std::vector<ConvertReport> reports = batch_.takeReports();
            status_->setText(tr("変換終了 %1 ファイル").arg(reports.size()));
            const std::string failures = batchFailureMessage(reports);
            if (!failures.empty() && !closeWhenIdle_)
                dialogs_.message(this, toQt(failures), false);
            ResyncTiming();
        }
    }
    if (!menuLoad_ && !batch_.busy()) {
        workTimer_.stop();
        for (QAction* a : actions_)
            a->setEnabled(true);
        if (closeWhenIdle_)
            close();
    }
}

void MainWindow::dropFiles(const QStringList& paths) {
    std::vector<std::string> files;
    for (const QString& p : paths)
        files.push_back(p.toStdString());
    if (files.empty())
        return;
    if (!batch_.busy())
        batch_.takeReports();
    const ConversionTarget target = panel_ ? panel_->target() : ConversionTarget::Kzp;
    batch_.add(files, target);
    // Loads and saves from the menu wait until the batch is through.
    for (const ReaderEntry& reader : readerTable())
        if (reader.openCommand != 0)  // .gltf shares .glb's item
            actions_[reader.openCommand]->setEnabled(false);
    for (const WriterEntry& writer : writerTable())
        if (writer.saveCommand != 0)
            actions_[writer.saveCommand]->setEnabled(false);
    actions_[kOpenAny]->setEnabled(false);
    actions_[kSaveTarget]->setEnabled(false);
    status_->setText(tr("変換 %1 / %2").arg(batch_.done()).arg(batch_.total()));
    workTimer_.start();
    pollWork();
}

void MainWindow::finishWork() {
    while (menuLoad_ || batch_.busy()) {
        if (menuLoad_)
            menuLoad_->pending.result.wait();
        pollWork();
        if (batch_.busy())
            batch_.poll(true);
        QCoreApplication::processEvents();
    }
    pollWork();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    event->acceptProposedAction();
    dropFiles(paths);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A batch finishes the file it is on, then the window closes; files not begun are dropped.
    if (batch_.busy() || menuLoad_) {
        batch_.dropPending();
        closeWhenIdle_ = true;
        event->ignore();
        return;
    }
    recordRectangle();
    writeSettings();
    if (panel_)
        panel_->close();
    event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // Window managers raise a clicked window without its tool windows (openbox does): the panel
    // comes back above once the click has raised the window.
    if (watched == preview_ && event->type() == QEvent::MouseButtonPress && panel_ && panel_->isVisible())
        QTimer::singleShot(0, panel_, [panel = panel_] { panel->raise(); });
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
        // The first move or resize that shows a frame: the window manager has framed the window.
        if (!wantedFrame_.isNull() && isVisible() && frameGeometry() != geometry())
            QTimer::singleShot(0, this, [this] { finishPlacement(false); });
        recordRectangle();
        placePanel();
        break;
    case QEvent::WindowActivate:
        // Window managers that raise the window without its tool windows would bury the panel.
        if (panel_ && panel_->isVisible())
            panel_->raise();
        recordRectangle();
        break;
    case QEvent::WindowStateChange: recordRectangle(); break;
    default: break;
    }
    return QMainWindow::event(event);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (adjusting_ || isMaximized() || isFullScreen() || isMinimized())
        return;
    // The preview keeps 16:9 of its width.
    const int want = clientHeightFor(preview_->width());
    const int extra = height() - preview_->height();
    if (preview_->height() != want && want > 0) {
        adjusting_ = true;
        resize(width(), want + extra);
        adjusting_ = false;
    }
}

void MainWindow::recordRectangle() {
    // The normal frame rectangle only: a maximised or full-screen window keeps the one it came
    // from, and nothing counts before the window is placed.
    if (!wantedFrame_.isNull() || isMaximized() || isFullScreen())
        return;
    const QRect r = frameGeometry();
    recordWindowRectangle(settings_, r.left(), r.top(), r.width(), r.height(), isMinimized());
}

void MainWindow::writeSettings() {
    if (settingsWritten_ || settingsPath_.empty())
        return;
    settingsWritten_ = true;
    settings_.antiAliasOn = lib().antiAliasOn ? 1 : 0;
    settings_.displayWord5 = lib().shaderMode ? 1 : 0;
    if (auto failed = rv::writeSettings(settingsPath_, settings_))
        LogLine("*** ERROR *** %s: %s", settingsPath_.c_str(), failed->c_str());
}

void MainWindow::handleInput(unsigned actions) {
    if (actions & kInputClose)
        close();  // Escape: no question asked
    if (actions & kInputToggleAntiAlias) {
        preview_->makeCurrent();
        AntiAliasSet(!lib().antiAliasOn);
        preview_->doneCurrent();
    }
    if (actions & kInputToggleShaderMode)
        lib().shaderMode = !lib().shaderMode;  // a context without a shadow map turns it off again
    if (actions & (kInputToggleAntiAlias | kInputToggleShaderMode))
        status_->setText(tr("アンチエイリアス %1 / シェーダー %2")
                             .arg(lib().antiAliasOn ? "ON" : "OFF", lib().shaderMode ? "ON" : "OFF"));
    if (actions & (kInputRefreshInfo | kInputToggleAntiAlias | kInputToggleShaderMode))
        preview_->update();
}

}  // namespace rv
